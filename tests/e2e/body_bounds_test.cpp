// End-to-end runs of the request body's bounds: bodies larger than the forms
// can need are answered 413 without being read (in an address space far
// smaller than they are), and bodies cut off by the client are answered 400
// and store nothing.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/room_site.h"

namespace {

using roomsite::expect_clean;

const std::string kVersionBody =
    "ZEPA CHAT-PlugIn version:[Ver3.11], OS:[WWW ServerOS Linux(x86)]\n</BODY>\n</HTML>\n";

// Every file under dir with its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        out[e.path().string()] = e.is_regular_file() ? e2e::read_file(e.path().string()) : "<dir>";
    return out;
}

bool has_upload(const std::string& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().rfind("CGI", 0) == 0) return true;
    return false;
}

// A file of `size` zero bytes that takes no disk space, to stream as a body.
std::string sparse_body(const std::string& dir, unsigned long long size) {
    const std::string path = dir + "body.bin";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    close(fd);
    return path;
}

TEST(BodyBounds, BodiesLargerThanTheFormsCanNeedAreAnsweredUnread) {
    // 64 MB of address space: reading any of these bodies into memory would
    // fail, so an answer other than 413 shows that one was read.
    constexpr unsigned long long kAddressSpace = 64ull << 20;
    struct Case {
        const char* what;
        const char* type;           // CONTENT_TYPE
        unsigned long long length;  // CONTENT_LENGTH, and the body's size
        const char* want;           // the answer
    };
    const Case cases[] = {
        {"100 MB URL-encoded", "application/x-www-form-urlencoded", 104857600ull, e2e::TOO_LARGE},
        {"64 KiB and one byte URL-encoded", "application/x-www-form-urlencoded", 65537ull, e2e::TOO_LARGE},
        {"multipart, the upload limit and 64 KiB and a byte", "multipart/form-data; boundary=x",
         10000000ull + 65536ull + 1ull, e2e::TOO_LARGE},
        {"100 MB without a type (read as multipart)", "", 104857600ull, e2e::TOO_LARGE},
    };
    e2e::Site site = e2e::make_site();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        e2e::Request req;
        req.method = "POST";
        req.content_type = c.type;
        req.body_file = sparse_body(site.root + "/", c.length);
        req.address_space = kAddressSpace;
        const e2e::Result r = e2e::run(site, req);
        expect_clean(r);
        EXPECT_EQ(r.out, c.want);
        EXPECT_FALSE(has_upload(site.data_dir));
    }
    // The program itself runs in that space: the limit is not what answers.
    e2e::Request ver;
    ver.query = "help=ver";
    ver.address_space = kAddressSpace;
    const e2e::Result r = e2e::run(site, ver);
    expect_clean(r);
    EXPECT_EQ(r.out, e2e::site_head() + kVersionBody);
    e2e::remove_site(site);
}

TEST(BodyBounds, MultipartTextFieldsPassingTheLimitAreAnswered413AndLeaveNoUpload) {
    e2e::Site site = e2e::make_site();
    e2e::Multipart mp;
    mp_field(mp, "help", "ver");
    mp_file(mp, "TITLEPIC", "\x95\x5C,&\".gif", std::string(5000, 'p'), "image/gif");
    mp_field(mp, "INFO", std::string(40000, 'a'));
    mp_field(mp, "NAME", std::string(30000, '\x95'));
    mp_field(mp, "LAST", "l");
    const e2e::Result r = e2e::run(site, e2e::mp_request(mp));
    expect_clean(r);
    EXPECT_EQ(r.out, e2e::TOO_LARGE);
    EXPECT_FALSE(has_upload(site.data_dir));

    // The same form with fields that fit is read.
    e2e::Multipart fits;
    mp_field(fits, "help", "ver");
    mp_file(fits, "TITLEPIC", "a.gif", std::string(5000, 'p'), "image/gif");
    mp_field(fits, "INFO", std::string(40000, 'a'));
    const e2e::Result ok = e2e::run(site, e2e::mp_request(fits));
    expect_clean(ok);
    EXPECT_EQ(ok.out, e2e::site_head() + kVersionBody);
    e2e::remove_site(site);
}

TEST(BodyBounds, ACutBodyIsAnswered400AndStoresNothing) {
    // taro is a system administrator of room 12: every one of these bodies,
    // taken as far as it came, would post a line or change a setting.
    roomsite::RoomSite room = roomsite::make_room("Lobby", 100, 0, 0);
    const std::string talk = "\x95\x5C, & \"cut\"";

    e2e::Request urlencoded;
    urlencoded.method = "POST";
    urlencoded.content_type = "application/x-www-form-urlencoded";
    urlencoded.body = roomsite::query(room, "CWRITE", "&CHAT_NAME=Taro&COLOR=Navy&CTALK=%95%5C%2C+%26+%22cut%22");

    // The talk form as browsers send it, cut after its line of talk.
    e2e::Multipart post;
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"uid", room.uid}, {"SKEY1", "111"}, {"SKEY2", "222"}, {"FOLDER_NO", "12"}, {"JOB", "CWRITE"},
             {"CHAT_NAME", "Taro"}, {"CTALK", talk}})
        mp_field(post, name, value);
    post.body += "--" + post.boundary + "\r\nContent-Disposition: form-data; name=\"COLOR\"\r\n\r\nNa";
    const std::string cut_talk = post.body;
    e2e::Request multipart_talk = e2e::mp_request(post);
    multipart_talk.body = cut_talk;  // without the closing boundary mp_request adds

    // A settings update, every field of the form sent, cut inside its picture.
    e2e::Multipart settings;
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"uid", room.uid}, {"SKEY1", "111"}, {"SKEY2", "222"}, {"FOLDER_NO", "12"}, {"JOB", "SET_CONFIGWR"},
             {"NAME", "Renamed"}, {"INFO", "new"}, {"FONTCOLOR1", "FF0000"}, {"FONTCOLOR2", ""}, {"FONTCOLOR3", ""},
             {"FRAMESET1", "10%"}, {"FRAMESET2", "40%"}, {"FRAMESET3", "50%"}})
        mp_field(settings, name, value);
    for (const char* pic : {"PIC_FILENAME", "BACKPIC1", "BACKPIC2", "BACKPIC3"}) mp_file(settings, pic, "", "");
    mp_file(settings, "TITLEPIC", "sea.gif", std::string(30000, 's'), "image/gif");
    e2e::Request multipart_upload = e2e::mp_request(settings);
    multipart_upload.body = settings.body.substr(0, settings.body.size() - 20000);

    for (e2e::Request* req : {&urlencoded, &multipart_talk, &multipart_upload}) {
        SCOPED_TRACE(req->content_type);
        req->content_length = std::to_string(req->body.size() + 1000);
        const auto before = snapshot(room.site.root);
        const e2e::Result r = e2e::run(room.site, *req);
        expect_clean(r);
        EXPECT_EQ(r.out, e2e::CUT_BODY);
        EXPECT_TRUE(snapshot(room.site.root) == before);
        // Whole, the same body is taken: the cut alone made the difference.
        req->content_length = "auto";
        const e2e::Result whole = e2e::run(room.site, *req);
        expect_clean(whole);
        EXPECT_NE(whole.out.find("Content-type: text/html\n"), std::string::npos);
        EXPECT_FALSE(snapshot(room.site.root) == before);
    }
    EXPECT_FALSE(has_upload(room.site.data_dir));
    e2e::remove_site(room.site);
}

}  // namespace
