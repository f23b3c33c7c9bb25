// Faults of the file system, one call at a time, through the store layer's
// table of file calls: for each step of a text rewrite, a binary rewrite,
// the taking of a lock, an upload and a picture move, that call fails with
// EIO, ENOSPC or EINTR. A failure ends in the store's refusal with every file
// as it was and nothing left behind; an interruption changes nothing at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cgi/cgilib61.h"
#include "cgi/multipart.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/keyed_line.h"
#include "tests/unit/store_seam.h"
#include "tests/unit/store_tmpdir.h"

namespace {

using store_test::Buf;
using store_test::read_all;
using store_test::write_all;

// Every file below the data directory with its bytes.
using Files = std::map<std::string, std::string>;
Files files_in(const std::string& dir) {
    Files out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        out[e.path().string().substr(dir.size())] = e.is_regular_file() ? read_all(e.path().string()) : "(dir)";
    return out;
}

// One operation of a store on a prepared data directory: its result, the
// result that means it was done, and those of its refusals (the upload's -1:
// the reading said that it kept no upload).
struct Scenario {
    const char* name;
    std::function<void(const std::string& dir)> prepare;
    std::function<int(const std::string& dir)> run;
    int done;
    std::vector<int> refusals;
};

const std::string kRec(std::string("\x95\x5C,&\"", 5) + std::string(403, '\0'));  // a 408-byte record

const std::vector<Scenario> kScenarios = {
    {"text rewrite",
     [](const std::string& d) {
         std::filesystem::create_directories(d + "/user/taro");
         // Larger than the read buffer: a read fails after the key was met.
         std::string text = "USER_NAME,\x95\x5C, &\"q\"\nCOLOR,Navy\n\n";
         for (int i = 0; text.size() < 33000; ++i) text += "KEY" + std::to_string(i) + ",\x95\x5C,\n";
         write_all(d + "/user/taro/personal.mst", text + "MODE,1");
     },
     [](const std::string&) {
         char dir[FIO_PATH_MAX];
         Fio_dir_user(dir, "taro");
         char value[64] = "Red, \x95\x5C";
         return Fio_keyed_line(KEYED_NAME_VALUE, dir, "personal.mst", "personal.chk", STORE_UPDATE, "COLOR",
                               value, sizeof value);
     },
     FIO_OK, {FIO_NO_FILE, FIO_LOCKED}},
    {"binary rewrite",
     [](const std::string& d) {
         std::filesystem::create_directories(d + "/12");
         write_all(d + "/12/chatdata.dat", kRec + kRec + kRec);
     },
     [](const std::string&) {
         char room[FIO_PATH_MAX];
         Fio_dir_room(room, 12);
         FIO_ACCESS a;
         const int r = Fio_open(&a, room, "chatdata.dat", "chatdata.chk", FIO_REWRITE, FIO_BINARY);
         if (r != FIO_OK) return r;
         Fio_write_rec(&a, "new", 4);
         Fio_copy_rest(&a, 408);
         return Fio_close(&a, FIO_OK);
     },
     FIO_OK, {FIO_NO_FILE, FIO_LOCKED}},
    {"lock", [](const std::string&) {},
     [](const std::string& d) {
         Buf chk(d + "/tree_mst.chk");
         const int r = Fio_xor_control(chk, 1);
         const bool there = store_test::exists(d + "/tree_mst.chk");
         Fio_xor_control(chk, 2);
         return r == 0 && there ? 0 : 1;
     },
     0, {1}},
    {"upload", [](const std::string&) {},
     [](const std::string& d) {
         const std::string body = "--B\r\nContent-Disposition: form-data; name=\"PIC\"; filename=\"a.gif\"\r\n\r\n" +
                                  std::string(2500, 'g') + "\r\n--B--\r\n";
         CGI_PARAMS params{};
         G_set(params.data_dir, (d + "/").c_str());
         const int r = cgi_multipart_mem(&params, "multipart/form-data; boundary=B",
                                         static_cast<uint32_t>(body.size()), body.data(),
                                         static_cast<uint32_t>(body.size()), 0, 1);
         const char* value = params.list.value != nullptr ? std::strrchr(params.list.value, ',') : nullptr;
         const std::string path = value != nullptr ? value + 1 : "";
         const bool whole = cgi_is_own_upload(&params, path.c_str()) && read_all(path) == std::string(2500, 'g');
         // A reading that kept less than the whole upload says so.
         const bool told = r == CGI_NOT_STORED && !cgi_is_own_upload(&params, path.c_str());
         cgi_free(&params);
         return r == CGI_OK && whole ? 0 : told ? -1 : -2;
     },
     0, {-1}},
    {"picture move",
     [](const std::string& d) {
         std::filesystem::create_directories(d + "/12/fcg");
         write_all(d + "/12/fcg/sea.jpg", std::string(300, 'o'));
         write_all(d + "/CGI7", std::string(2500, 'n'));
     },
     [](const std::string& d) {
         Buf src(d + "\\CGI7"), dst(d + "\\12\\fcg\\sea.jpg");
         return Fio_filemove(src, dst);
     },
     0, {-1}},
};

// One call of a scenario, found in the trace of its run without a fault: the
// nth call of entry on a file whose name holds part ("(dir)" is the directory
// of an unnamed file, "(new)" an unnamed file).
struct Step {
    const char* scenario;
    const char* step;
    const char* entry;
    const char* part;
    int nth;
};

const std::vector<Step> kSteps = {
    {"text rewrite", "lock draft made", "open", "(dir)", 1},
    {"text rewrite", "lock draft's kernel lock", "flock", "(new)", 1},
    {"text rewrite", "lock draft's mark", "write", "(new)", 1},
    {"text rewrite", "lock draft linked", "linkat", "personal.chk", 1},
    {"text rewrite", "data file opened", "open", "personal.mst", 1},
    {"text rewrite", "temporary file made", "open", "(dir)", 2},
    {"text rewrite", "temporary file's kernel lock", "flock", "(new)", 2},
    {"text rewrite", "data file read", "read", "personal.mst", 1},
    {"text rewrite", "data file read on", "read", "personal.mst", 2},
    {"text rewrite", "temporary file written", "write", "(new)", 2},
    {"text rewrite", "temporary file flushed", "fsync", "", 1},
    {"text rewrite", "lock looked at", "open", "personal.chk", 1},
    {"text rewrite", "lock's mark read", "read", "personal.chk", 1},
    {"text rewrite", "temporary file named", "linkat", ".tmp", 1},
    {"text rewrite", "renamed over the data file", "rename", ".tmp", 1},
    {"binary rewrite", "data file opened", "open", "chatdata.dat", 1},
    {"binary rewrite", "temporary file made", "open", "(dir)", 2},
    {"binary rewrite", "record written", "write", "(new)", 2},
    {"binary rewrite", "read position", "lseek", "chatdata.dat", 1},
    {"binary rewrite", "rest copied", "copy_file_range", "chatdata.dat", 1},
    {"binary rewrite", "temporary file flushed", "fsync", "", 1},
    {"binary rewrite", "temporary file named", "linkat", ".tmp", 1},
    {"binary rewrite", "renamed over the data file", "rename", ".tmp", 1},
    {"lock", "draft made", "open", "(dir)", 1},
    {"lock", "draft's kernel lock", "flock", "(new)", 1},
    {"lock", "draft's mark", "write", "(new)", 1},
    {"lock", "draft linked", "linkat", "tree_mst.chk", 1},
    // A file that cannot be written whole goes, and is no upload of the request.
    {"upload", "file created", "open", "CGI", 1},
    {"upload", "file's identity", "fstat", "CGI", 1},
    {"upload", "file opened for its content", "open", "CGI", 2},
    {"upload", "first block written", "write", "CGI", 1},
    {"upload", "last block written", "write", "CGI", 3},
    {"upload", "file closed", "close", "CGI", 2},
    {"picture move", "upload opened", "open", "CGI7", 1},
    {"picture move", "copy made", "open", "(dir)", 1},
    {"picture move", "copy's kernel lock", "flock", "(new)", 1},
    {"picture move", "upload read", "read", "CGI7", 2},
    {"picture move", "copy written", "write", "(new)", 3},
    {"picture move", "copy flushed", "fsync", "", 1},
    {"picture move", "copy named", "linkat", "picture", 1},
    {"picture move", "renamed over the picture", "rename", "picture", 1},
};

class StoreFaults : public store_test::TmpDirTest {
protected:
    void SetUp() override {
        TmpDirTest::SetUp();
        // One lock first, as every request takes one: it shows this process
        // whether unnamed files work here, which later runs then rely on.
        Buf chk(at("x.chk"));
        Fio_xor_control(chk, 1);
        Fio_xor_control(chk, 2);
    }
    // Runs s on a freshly prepared directory with the faults given (places in
    // the trace -> errno); the trace, result and files after it.
    struct Run {
        std::vector<store_seam::CALL> trace;
        int result;
        Files files;
    };
    Run run(const Scenario& s, const std::map<std::size_t, int>& faults = {}) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        s.prepare(dir);
        Run out;
        {
            store_seam::Seam seam;
            seam.faults = faults;
            out.result = s.run(dir);
            out.trace = seam.trace;
        }
        out.files = files_in(dir);
        return out;
    }
    // The files of s before it runs.
    Files prepared(const Scenario& s) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        s.prepare(dir);
        return files_in(dir);
    }
};

TEST_F(StoreFaults, EachStepFailedIsARefusalThatChangesNothing) {
    if (store_seam::find(run(kScenarios[2]).trace, "open", "(dir)") < 0)
        GTEST_SKIP() << "the file system here makes no unnamed files";
    for (const Scenario& s : kScenarios) {
        const Files before = prepared(s);
        const Run clean = run(s);
        ASSERT_EQ(clean.result, s.done) << s.name;
        for (const Step& step : kSteps) {
            if (s.name != std::string(step.scenario)) continue;
            const long place = store_seam::find(clean.trace, step.entry, step.part, step.nth);
            ASSERT_GE(place, 0) << s.name << ": no " << step.step;
            for (int err : {EIO, ENOSPC}) {
                SCOPED_TRACE(std::string(s.name) + ", " + step.step + ", " + std::strerror(err));
                const Run r = run(s, {{static_cast<std::size_t>(place), err}});
                EXPECT_EQ(r.trace[place].entry, step.entry);
                EXPECT_NE(std::find(s.refusals.begin(), s.refusals.end(), r.result), s.refusals.end()) << r.result;
                EXPECT_EQ(r.files, before);
            }
        }
    }
}

// Every call of every scenario, not only its steps: a signal that interrupts
// one never changes what the operation does.
TEST_F(StoreFaults, AnyCallInterruptedChangesNothing) {
    for (const Scenario& s : kScenarios) {
        const Run clean = run(s);
        ASSERT_EQ(clean.result, s.done) << s.name;
        for (std::size_t place = 0; place < clean.trace.size(); ++place) {
            SCOPED_TRACE(std::string(s.name) + ": " + clean.trace[place].entry + " " + clean.trace[place].what);
            const Run r = run(s, {{place, EINTR}});
            EXPECT_EQ(r.result, clean.result);
            EXPECT_EQ(r.files, clean.files);
        }
    }
}

TEST_F(StoreFaults, ATemporaryFileThatCannotBeRemovedLeavesARefusalARefusal) {
    Fio_named_temporaries = 1;  // a temporary file with a name to remove
    for (const Scenario& s : kScenarios) {
        if (s.name != std::string("text rewrite") && s.name != std::string("picture move")) continue;
        SCOPED_TRACE(s.name);
        const Files before = prepared(s);
        // The rename fails, and so does the removal of the file it was to move.
        const long place = store_seam::find(run(s).trace, "rename", "");
        ASSERT_GE(place, 0);
        const Run r = run(s, {{place, EIO}, {place + 1, EIO}});
        ASSERT_GT(r.trace.size(), static_cast<std::size_t>(place + 1));
        EXPECT_EQ(r.trace[place + 1].entry, "unlink");
        EXPECT_NE(r.result, s.done);
        // Everything as it was, beside the one temporary file that stayed.
        Files rest = r.files;
        int temporaries = 0;
        for (auto f = rest.begin(); f != rest.end();) {
            const bool tmp = f->first.size() > 4 && f->first.compare(f->first.size() - 4, 4, ".tmp") == 0;
            temporaries += tmp;
            f = tmp ? rest.erase(f) : std::next(f);
        }
        EXPECT_EQ(temporaries, 1);
        EXPECT_EQ(rest, before);
    }
}

}  // namespace
