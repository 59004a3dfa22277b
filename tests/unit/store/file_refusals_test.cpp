// The file commands refuse arguments that name nothing before any dialog
// opens or any request leaves, and always answer the page, so its button
// stops waiting and the owner reads why.

#include "foundation/json_text.h"
#include "store/file_family.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tillbay::store {
namespace {

class RecordingPage final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override { said += std::string(name) + "(" + std::string(args) + ")\n"; }
    void status(std::string_view message) override { said += "status:" + std::string(message) + "\n"; }
    std::string said;
};

class CountingDialogs final : public os::dialog::Dialogs {
public:
    os::dialog::Answer ask(os::dialog::Request const&) override
    {
        ++asked;
        return {};
    }
    void show_in_folder(std::string const&) override { }
    int asked = 0;
};

struct Refusal {
    files::Handler handler;
    std::vector<std::string> fields;
    char const* answer; // what the page is told, in part
};

TEST(FileCommandRefusals, NothingOpensAndThePageIsTold)
{
    std::string const big(300 * 1024, 'x');
    Refusal const cases[] = {
        { files::modifyproductphoto, { "modifyproductphoto" }, "setProductPhotoUp({\"id\":0,\"key\":\"modifyproductphoto\",\"ok\":false" },
        { files::modifyproductphoto, { "modifyproductphoto", "5a" }, "status:어느 사진인지 알 수 없습니다" },
        { files::modifyproductphoto, { "modifyproductphoto", "123456789012345678901" }, "어느 사진인지 알 수 없습니다" },
        { files::addgalleryphoto, { "addgalleryphoto", "-1" }, "\"key\":\"addgalleryphoto\",\"ok\":false" },
        { files::modifymenuphoto, { "modifymenuphoto", "" }, "\"key\":\"modifymenuphoto\",\"ok\":false" },
        { files::storephoto, { "storephoto", "123" }, "\"key\":\"storephoto\",\"ok\":false" },
        { files::storephoto, { "storephoto", "x" }, "어느 사진인지 알 수 없습니다" },
        // A valid number without a signed-in owner.
        { files::modifyproductphoto, { "modifyproductphoto", "501" }, "status:가맹점 로그인이 필요합니다" },
        { files::uploadproductphoto, { "uploadproductphoto", "0", "k" }, "고른 사진을 찾지 못했습니다" },
        { files::uploadproductphoto, { "uploadproductphoto", "1x", "k" }, "고른 사진을 찾지 못했습니다" },
        { files::uploadproductphoto, { "uploadproductphoto", "99", "k" }, "고른 사진을 찾지 못했습니다" },
        { files::mallshipcsv, { "mallshipcsv", "1", "20240101" }, "setMallCsvDone(" },
        { files::mallsavecsv, { "mallsavecsv", "other", "a,b" }, "저장할 내용이 없어요." },
        { files::mallsavecsv, { "mallsavecsv", "fail", "" }, "저장할 내용이 없어요." },
        { files::mallsavecsv, { "mallsavecsv", "template", "!!not base64!!", "xlsx" }, "저장할 내용이 없어요." },
        { files::mallsavecsv, { "mallsavecsv", "fail", big }, "저장할 내용이 없어요." },
        { files::productcsvsave, { "productcsvsave" }, "setProductCsvSaved(" },
        { files::qrpng, { "qrpng", "1", "data:image/png;base64,AAAA" }, "\"ok\":false" },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.fields[0] + " " + (c.fields.size() > 1 ? c.fields[1].substr(0, 30) : std::string()));
        CountingDialogs dialogs;
        int web_calls = 0;
        FileHooks hooks;
        hooks.dialogs = &dialogs;
        hooks.web = [&](os::http::Endpoint const&, os::http::Request const&) -> Result<os::http::Response> {
            ++web_calls;
            return os::http::Response { 200, "", "OK" };
        };
        hooks.web_host = [] { return std::string("http://127.0.0.1:9"); };
        auto page = std::make_shared<RecordingPage>();
        c.handler(bridge::Command { c.fields }, page, hooks);
        EXPECT_EQ(dialogs.asked, 0);
        EXPECT_EQ(web_calls, 0);
        EXPECT_NE(page->said.find(c.answer), std::string::npos) << page->said;
    }
}

} // namespace
} // namespace tillbay::store
