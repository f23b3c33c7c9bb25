// End-to-end runs of the multipart reader: uploads byte for byte on disk, the
// upload limit, cut-off bodies, and the clearing of old uploads.
#include <gtest/gtest.h>

#include <dirent.h>

#include <ctime>
#include <random>
#include <set>
#include <string>

#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

const std::string kVersionBody =
    "ZEPA CHAT-PlugIn version:[Ver3.11], OS:[WWW ServerOS Linux(x86)]\n</BODY>\n</HTML>\n";

void expect_clean(const Result& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

std::set<std::string> uploads_in(const std::string& dir) {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        if (std::string(e->d_name).rfind("CGI", 0) == 0) names.insert(e->d_name);
    }
    closedir(d);
    return names;
}

std::string awkward_bytes(std::size_t n, unsigned seed, const std::string& boundary) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
    // Runs that begin like the boundary, zero bytes and line breaks.
    const std::string near = "\r\n--" + boundary.substr(0, boundary.size() - 1);
    if (n > near.size() + 20) {
        s.replace(10, near.size(), near);
        s[5] = '\0';
    }
    if (n >= 2) s.replace(n - 2, 2, "\r\n");
    return s;
}

// The faketime argument that sets the program's clock `seconds` from now.
std::string clock_in(long seconds) { return "@" + std::to_string(static_cast<long>(time(nullptr)) + seconds); }

class MultipartE2E : public ::testing::Test {
protected:
    void SetUp() override { site = make_site(); }
    void TearDown() override { remove_site(site); }
    Site site;
};

TEST_F(MultipartE2E, UploadsOf999To1001BytesArriveByteForByte) {
    Multipart mp;
    const std::string a = awkward_bytes(999, 1, mp.boundary);
    const std::string b = awkward_bytes(1000, 2, mp.boundary);
    const std::string c = awkward_bytes(1001, 3, mp.boundary);
    mp_file(mp, "BG1", "C:\\pics\\a.gif", a, "image/gif");
    mp_field(mp, "help", "ver");
    mp_file(mp, "BG2", "b.jpg", b, "image/jpeg");
    mp_file(mp, "BG3", "", "content of no file");
    mp_file(mp, "BG4", "\x95\x5C.png", c);
    const Result r = run(site, mp_request(mp));
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);

    // Nothing took the uploads: they went with the request.
    EXPECT_EQ(uploads_in(site.data_dir), std::set<std::string>{});
}

TEST_F(MultipartE2E, AnotherRequestsUploadIsLeftAlone) {
    write_file(site.data_dir + "CGI0", "earlier upload");
    Multipart mp;
    mp_field(mp, "help", "ver");
    mp_file(mp, "BG1", "a.gif", "new");
    const Result r = run(site, mp_request(mp));
    expect_clean(r);
    EXPECT_EQ(read_file(site.data_dir + "CGI0"), "earlier upload");
    EXPECT_EQ(uploads_in(site.data_dir), std::set<std::string>{"CGI0"});
}

TEST_F(MultipartE2E, OverTheUploadLimitTextFieldsCountAndNoFileIsStored) {
    Site small = make_site("ATTACHED_FILE_LIMIT,500,\n");
    Multipart mp;
    mp_field(mp, "help", "ver");
    mp_file(mp, "BG1", "big.gif", std::string(2000, 'g'));
    const Result r = run(small, mp_request(mp));
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);
    EXPECT_TRUE(uploads_in(small.data_dir).empty());
    remove_site(small);
}

TEST_F(MultipartE2E, ACutOffBodyEndsTheRun) {
    Multipart mp;
    mp_field(mp, "help", "ver");
    mp.body += "--" + mp.boundary + "\r\nContent-Disposition: form-data; name=\"BG1\"; filename=\"a.gif\"\r\n\r\n";
    mp.body += std::string(2500, 'x');  // the client stopped sending here
    Request req;
    req.method = "POST";
    req.content_type = "multipart/form-data; boundary=" + mp.boundary;
    req.body = mp.body;
    req.content_length = std::to_string(mp.body.size() + 100000);
    const Result r = run(site, req);
    expect_clean(r);
    EXPECT_EQ(r.out, CUT_BODY);
    // The partial upload goes with the request.
    EXPECT_EQ(uploads_in(site.data_dir), std::set<std::string>{});
}

TEST_F(MultipartE2E, AWrongBoundaryReadsNothing) {
    Multipart mp;
    mp_field(mp, "help", "ver");
    mp_file(mp, "BG1", "a.gif", "data");
    Request req = mp_request(mp);
    req.content_type = "multipart/form-data; boundary=\"" + mp.boundary + "\"";
    const Result r = run(site, req);
    expect_clean(r);
    EXPECT_EQ(r.out.find("version:"), std::string::npos);
    EXPECT_TRUE(uploads_in(site.data_dir).empty());
}

TEST_F(MultipartE2E, UploadingRequestsRemoveUploadsOnlyOnceAnHourOld) {
    write_file(site.data_dir + "CGI3", "left by an earlier request");
    write_file(site.data_dir + "CGI12", "another");
    write_file(site.data_dir + "tree.mst", "");

    // Requests that upload look for old uploads; a reload does not.
    Request reload;
    reload.query = "help=ver";
    Result r = run(site, reload);
    expect_clean(r);
    EXPECT_EQ(uploads_in(site.data_dir), (std::set<std::string>{"CGI12", "CGI3"}));
    Multipart mp;
    mp_field(mp, "help", "ver");
    Request req = mp_request(mp);
    // File times as the disk has them: only the program's clock moves on.
    req.env["NO_FAKE_STAT"] = "1";
    req.faketime = clock_in(61 * 60);
    reload.env = req.env;
    reload.faketime = req.faketime;
    r = run(site, reload);
    expect_clean(r);
    EXPECT_EQ(uploads_in(site.data_dir), (std::set<std::string>{"CGI12", "CGI3"}));

    req.faketime = clock_in(59 * 60);
    r = run(site, req);
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);
    EXPECT_EQ(uploads_in(site.data_dir), (std::set<std::string>{"CGI12", "CGI3"}));

    req.faketime = clock_in(61 * 60);
    r = run(site, req);
    expect_clean(r);
    EXPECT_TRUE(uploads_in(site.data_dir).empty());
    EXPECT_TRUE(file_exists(site.data_dir + "tree.mst"));
}

}  // namespace
