// Every command of the back-office table run against the reference platform
// (tillbay-platform over TLS, signed in as the owner through the login
// family): the request text the platform logged, decrypted, and what the page
// was told. Then the failures: missing arguments, values that cannot be
// sent, requests too long for their buffer, refusals, no answer, no owner.

#include "peer.h"

#include "foundation/paths.h"
#include "foundation/settings.h"
#include "server/login_family.h"
#include "session/session.h"
#include "store/local_commands.h"
#include "store/rows.h"
#include "store/store_families.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

using namespace tillbay;

namespace {

peers::Platform* g_platform = nullptr;
peers::TempDir* g_appdata = nullptr;

struct RecordingPage : bridge::Page {
    std::vector<std::string> said;
    void callback(std::string_view name, std::string_view args) override
    {
        said.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { said.push_back("status:" + std::string(message)); }
};

struct Case {
    std::vector<std::string> fields;
    std::vector<std::string> sent; // command texts, in order, exactly (a store call's token left out)
    std::vector<std::string> said; // each the start of one page answer, in order
};

class StoreRows : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_appdata = new peers::TempDir;
        ::setenv("LOCALAPPDATA", g_appdata->path().c_str(), 1);
        g_platform = new peers::Platform;
        if (g_platform->start()) {
            ASSERT_TRUE(g_platform->configure_pos());
        }
    }
    static void TearDownTestSuite()
    {
        delete g_platform;
        g_platform = nullptr;
        paths::set_exe_dir_for_testing("");
        delete g_appdata;
    }

    void SetUp() override
    {
        if (g_platform->api_port <= 0)
            GTEST_SKIP() << "tillbay-platform is not built";
        session::reset();
        m_context.calls = store::Calls::standard();
        m_context.hooks.route_page = [this](std::string_view page) { m_hooked.push_back("route:" + std::string(page)); };
        m_context.hooks.record_page = [this](std::string_view page, bool old) {
            m_hooked.push_back("record:" + std::string(page) + (old ? ":old" : ""));
        };
        m_context.hooks.refresh_order_board = [this](bridge::Page&) { m_hooked.push_back("refresh"); };
        m_context.hooks.poll_order_list = [this](bridge::Page&) { m_hooked.push_back("poll"); };
        m_context.hooks.run_script = [this](bridge::Page&, std::string const& script) { m_hooked.push_back("script:" + script); };
        m_context.hooks.open_address = [this](std::string const& address) {
            m_hooked.push_back("open:" + address);
            return true;
        };
        for (auto slot : { store::Slot::Pc, store::Slot::Menu, store::Slot::Product, store::Slot::Store, store::Slot::Sales,
                 store::Slot::History })
            m_families.emplace_back(slot, m_context);
        g_platform->requests_after(0, &m_seq);
    }
    void TearDown() override { session::reset(); }

    // Signs in the way the owner does at the counter, the POS session with it.
    void sign_in_owner()
    {
        server::LoginFamily login(server::LoginHooks {});
        RecordingPage page;
        login.handle(bridge::Command { { "merchlogin", g_platform->owner_id, g_platform->owner_password }, 1, false }, page);
        ASSERT_TRUE(session::owner_signed_in()) << (page.said.empty() ? "" : page.said.back());
        ASSERT_TRUE(session::staff_signed_in());
        received();
    }
    void sign_in_staff()
    {
        server::LoginFamily login(server::LoginHooks {});
        RecordingPage page;
        login.handle(bridge::Command { { "login", g_platform->staff_id, g_platform->staff_password }, 1, false }, page);
        ASSERT_TRUE(session::staff_signed_in());
        received();
    }

    // Offers the command to the families in the bridge's order.
    std::vector<std::string> run(std::vector<std::string> const& fields)
    {
        RecordingPage page;
        bridge::Command command { fields, 1, false };
        bool handled = false;
        for (auto& family : m_families) {
            if (family.handle(command, page) == bridge::Handled::Yes) {
                handled = true;
                break;
            }
        }
        EXPECT_TRUE(handled) << fields[0];
        return page.said;
    }

    // The command texts the platform received since the last look, without
    // a store call's token.
    std::vector<std::string> received()
    {
        std::vector<std::string> out;
        for (auto const& line : g_platform->requests_after(m_seq, &m_seq)) {
            std::string command = line.substr(line.find(' ', line.find(' ') + 1) + 1);
            if (size_t token = command.find("&token="); token != std::string::npos)
                command.erase(token);
            out.push_back(command);
        }
        return out;
    }

    void check(Case const& c)
    {
        std::string name = c.fields.empty() ? "" : c.fields[0];
        auto said = run(c.fields);
        EXPECT_EQ(received(), c.sent) << name;
        ASSERT_EQ(said.size(), c.said.size()) << name << ": " << testing::PrintToString(said);
        for (size_t i = 0; i < said.size(); ++i)
            EXPECT_TRUE(said[i].starts_with(c.said[i])) << name << ": " << said[i].substr(0, 300) << "\n  expected " << c.said[i];
        m_covered.insert(name);
    }

    // A customer's table order through the control interface; its number.
    long long new_table_order(int table)
    {
        std::string body = R"({"table":)" + std::to_string(table)
            + R"(,"kind":"table","pay":"unpaid","lines":[{"name":"김밥","qty":1}]})";
        auto answer = nlohmann::json::parse(g_platform->control("POST", "/control/orders", body), nullptr, false);
        return answer.is_object() ? answer.value("orderidx", 0LL) : 0;
    }

    store::Context m_context;
    std::vector<store::StoreFamily> m_families;
    std::vector<std::string> m_hooked;
    long long m_seq = 0;
    static std::set<std::string> m_covered;
};
std::set<std::string> StoreRows::m_covered;

std::string const option_json = R"([{"gname":"추가","items":[{"iname":"치즈","addprice":1000}]}])";
std::string const size_json = R"({"groups":[{"gname":"사이즈","requiredyn":"Y","items":[{"iname":"대","addprice":2000},{"iname":"소","addprice":0}]}]})";

} // namespace

TEST_F(StoreRows, EveryCommandSendsItsRequestAndAnswersItsPage)
{
    sign_in_owner();
    long long a = new_table_order(3), b = new_table_order(4);
    ASSERT_GT(a, 0);
    std::string const A = std::to_string(a), B = std::to_string(b);
    received();

    Case const cases[] = {
        // menu
        { { "menuready" }, { "cmd=9&storeidx=1" }, { "setMenuCategoryData(\"{" } },
        { { "menu_loaded" }, { "cmd=9&storeidx=1" }, { "setMenuCategoryData(\"{" } },
        { { "getmenulist", "11" }, { "cmd=10&storeidx=1&categoryidx=11" }, { "setMenuListData(\"{" } },
        { { "addcategory", "야식 & 술" }, { "cmd=34&storeidx=1&ctname=야식 %26 술", "cmd=9&storeidx=1" }, { "setMenuCategoryData(" } },
        { { "renamecategory", "14", "음료=주류" }, { "cmd=35&storeidx=1&categoryidx=14&ctname=음료%3D주류", "cmd=9&storeidx=1" },
            { "setMenuCategoryData(" } },
        { { "ordercategory", "12,11,13,14" }, { "cmd=37&storeidx=1&orderlist=12,11,13,14", "cmd=9&storeidx=1" }, { "setMenuCategoryData(" } },
        { { "delcategory", "11" }, { "cmd=36&storeidx=1&categoryidx=11", "cmd=9&storeidx=1" },
            { "status:요청이 거절되었습니다 — 메뉴가 있는 분류는 지울 수 없습니다", "setMenuCategoryData(" } },
        { { "menusoldoutlist", "102", "1" }, { "cmd=16&storeidx=1&menuidx=102&value=1" }, {} },
        { { "gettableinfo" }, { "cmd=1&storeidx=1" }, { "setTableInfo({\"storeidx\":1,\"tablecount\":12})", "setStoreName(\"틸베이 한식당\")" } },
        { { "modifytablenum", "14" }, { "cmd=44&storeidx=1&value=14" }, { "status:테이블 수를 저장했습니다" } },
        { { "viewphoto", "https://img.example/menu/101.jpg" }, {}, {} },
        { { "openpdf", "file:///etc/passwd" }, {}, { "status:사진과 PDF는 웹 주소로만 열 수 있습니다" } },

        // store
        { { "setopenstatus", "2" }, { "cmd=73&storeidx=1&openstatus=2" }, { "applyOpenStatus(\"{" } },
        { { "bizsetting_loaded" }, { "cmd=76&storeidx=1" }, { "setBizSetting(\"{" } },
        { { "savebizhours", "10:00", "22:00", "15:00", "16:00" },
            { "cmd=77&storeidx=1&opentime=10:00&closetime=22:00&breakstart=15:00&breakend=16:00&holidays=", "cmd=76&storeidx=1" },
            { "status:영업시간을 저장했습니다", "setBizSetting(" } },
        { { "addstaff", "서빙", "tillbay05", "pw5555", "staff" }, { "cmd=78&storeidx=1&name=서빙&loginid=tillbay05&passwd=pw5555&role=staff" },
            { "status:직원을 추가했습니다" } },
        { { "updatestaff", "1002", "name", "주방장" }, { "cmd=79&storeidx=1&staffidx=1002&mode=name&value=주방장" },
            { "status:직원 정보를 바꿨습니다" } },
        { { "review_loaded" }, { "cmd=74&storeidx=1&type=store" }, { "setReviewData(\"{" } },
        { { "productreview_loaded" }, { "cmd=74&storeidx=1&type=product" }, { "setReviewData(\"{" } },
        { { "reviewreply", "2", "감사 & 또 오세요 = 100%" }, { "cmd=75&storeidx=1&reviewidx=2&reply=감사 %26 또 오세요 %3D 100%25" },
            { "status:답글을 남겼습니다", "reloadCurrentReviews()" } },
        { { "applybizval", "1", "15000" }, { "cmd=8&type=set&storeidx=1&mode=1&value=15000" },
            { "status:적용하였습니다", "setBizApplyResult({\"mode\":1,\"ok\":true})" } },
        { { "setbenefit", "5", "%EC%BF%A0%ED%8F%B0%20%26" }, { "cmd=8&type=setbenefit&storeidx=1&mode=5&value=%EC%BF%A0%ED%8F%B0%20%26" },
            { "status:적용하였습니다", "setBizApplyResult({\"mode\":5,\"ok\":true})" } },
        { { "applybiz", "2" }, {}, {} },
        { { "getcompanyproducts" }, { "cmd=45" }, { "setCompanyProducts(" } },
        { { "openqrcard" }, {}, { "status:이 상품의 주문·결제는 사장님 휴대폰의 틸웨앱에서 하실 수 있습니다" } },
        { { "messageopen" }, { "cmd=56" }, { "setMessageList(" } },
        { { "messagenext", "10" }, { "cmd=57&lastidx=10" }, { "appendMessageList(" } },
        { { "messageview", "3" }, { "cmd=58&msgidx=3" }, { "SetMessageView(" } },
        { { "modifyshopname", "틸베이 한식당" }, { "cmd=2&storeidx=1&shopname=틸베이 한식당" }, { "status:상호를 바꿨습니다" } },
        { { "modifytel", "02-3143-5522" }, { "cmd=3&storeidx=1&tel=02-3143-5522" }, { "status:전화번호를 바꿨습니다" } },
        { { "modifyprname", "김민준" }, { "cmd=4&storeidx=1&name=김민준" }, { "status:대표자 이름을 바꿨습니다" } },
        { { "modifybank", "국민은행", "김민준", "123401-04-567890" }, { "cmd=5&storeidx=1&bankname=국민은행&bankuser=김민준&banknumber=123401-04-567890" },
            { "status:정산 계좌를 바꿨습니다" } },
        { { "modifysmscomment", "주문 고마워요!\n금방 준비할게요" }, { "cmd=51&storeidx=1&value=주문 고마워요!%0A금방 준비할게요" },
            { "status:안내 문자를 바꿨습니다" } },
        { { "modifydeliveryfee", "3500" }, { "cmd=52&storeidx=1&value=3500" }, { "status:배달비를 바꿨습니다" } },
        { { "modifydeliveryfree", "35000" }, { "cmd=53&storeidx=1&value=35000" }, { "status:무료 배달 금액을 바꿨습니다" } },
        { { "sellerinfo_loaded" }, { "cmd=86&storeidx=1" }, { "setSellerInfo(" } },
        { { "savesellerinfo", "김민준", "214-86-53127", "2024-서울마포-1234", "010-2345-6789", "서울 마포구 양화로 45", "2", "반품비 3,000원" },
            { "cmd=87&storeidx=1&ceoname=김민준&bizno=214-86-53127&mailorderno=2024-서울마포-1234&sellerphone=010-2345-6789&returnaddr=서울 마포구 양화로 "
              "45&deliverydays=2&returnfeeinfo=반품비 3,000원" },
            { "status:판매자 정보를 저장했습니다" } },
        { { "savepromo", "0", "저녁 특가", "15", "2026-01-01", "2026-12-31", "Y" },
            { "cmd=41&storeidx=1&promoidx=0&title=저녁 특가&dcrate=15&startdate=2026-01-01&enddate=2026-12-31&isactive=Y", "cmd=40&storeidx=1" },
            { "status:프로모션을 저장했습니다", "setPromotions(" } },
        { { "delpromo", "1" }, { "cmd=42&storeidx=1&promoidx=1", "cmd=40&storeidx=1" }, { "status:프로모션을 지웠습니다", "setPromotions(" } },
        { { "getbuydelivery", "1" }, { "cmd=60&storeidx=1&status=1" }, { "setBuyDeliveryList(" } },
        { { "changebuystatus", "9002", "2" }, { "cmd=61&storeidx=1&buyidx=9002&status=2" }, { "status:주문 상태를 바꿨습니다" } },
        { { "savedelivery", "9001", "CJ대한통운", "651200001111", "04", "문 앞" },
            { "cmd=65&storeidx=1&buyidx=9001&courier=CJ대한통운&invoiceno=651200001111&couriercode=04&memo=문 앞" }, { "status:송장을 저장했습니다" } },
        { { "cancelbuy", "9002" }, { "cmd=63&storeidx=1&buyidx=9002", "cmd=62&storeidx=1" },
            { "status:취소했습니다", "setBuyCancelList(", "setCancelLoading(0)" } },
        { { "claimprocess", "1", "reject", "이미 발송" }, { "cmd=85&storeidx=1&claimidx=1&action=reject&rejectreason=이미 발송", "cmd=84&storeidx=1" },
            { "setClaimList(" } },
        { { "printa4" }, {}, {} },

        // product
        { { "saveaisetting", "맵게" }, { "cmd=71&storeidx=1&value=%EB%A7%B5%EA%B2%8C" }, { "status:AI 주문 지시를 저장했습니다" } },
        { { "mallcategorylist" }, { "cmd=38" }, { "setMallCategoryList(" } },
        { { "addproduct", "들기름 300ml", "12000", "0", "10", "국산", "", "맛", "순한맛", "0", "맛", "진한맛", "500" },
            { "cmd=19&storeidx=1&pname=들기름 300ml&price=12000&saleprice=0&stock=10&comment=국산&photopath=",
                "cmd=68&storeidx=1&productidx=504&gname=맛&vname=순한맛&addprice=0&stock=10",
                "cmd=68&storeidx=1&productidx=504&gname=맛&vname=진한맛&addprice=500&stock=10" },
            { "status:상품을 등록했습니다" } },
        { { "addproductx", "k1", "참깨 500g", "9000", "", "5", "", "" },
            { "cmd=19&storeidx=1&pname=참깨 500g&price=9000&saleprice=&stock=5&comment=&photopath=" },
            { "status:상품을 등록했습니다", "setProductAddResult({\"key\":\"k1\",\"ok\":true,\"idx\":505,\"applied\":3" } },
        { { "variantlist", "501" }, { "cmd=67&storeidx=1&productidx=501" }, { "setVariantList(" } },
        { { "variantsave", "501", "맛", "아주 매운맛", "500", "5" }, { "cmd=68&storeidx=1&productidx=501&gname=맛&vname=아주 매운맛&addprice=500&stock=5" },
            { "status:옵션을 저장했습니다" } },
        { { "variantdel", "501", "1" }, { "cmd=69&storeidx=1&productidx=501&variantidx=1" }, { "status:옵션을 지웠습니다" } },
        { { "productphotolist", "501" }, { "cmd=80&storeidx=1&productidx=501" }, { "setProductPhotos(" } },
        { { "delproductphoto", "501", "99" }, { "cmd=82&storeidx=1&productidx=501&photoidx=99" },
            { "status:사진을 지우지 못했습니다 — 대상을 찾지 못했습니다" } },
        { { "deleteproduct", "505" }, { "cmd=83&storeidx=1&productidx=505" }, { "status:상품을 삭제했습니다" } },
        { { "addmenu", "13", "라볶이", "7000", "매콤", "", option_json },
            { "cmd=18&storeidx=1&categoryidx=13&mname=라볶이&price=7000&comment=매콤&photopath=",
                "cmd=93&storeidx=1&menuidx=111&gname=추가&requiredyn=N&multiselectyn=N", "cmd=92&storeidx=1&menuidx=111",
                "cmd=97&storeidx=1&optiongroupidx=10&iname=치즈&addprice=1000" },
            { "status:메뉴를 넣었습니다. (옵션 1개 포함)", "__pfPanelDone('add')" } },
        { { "addmenuopts", "104", size_json },
            { "cmd=93&storeidx=1&menuidx=104&gname=사이즈&requiredyn=Y&multiselectyn=N", "cmd=92&storeidx=1&menuidx=104",
                "cmd=97&storeidx=1&optiongroupidx=11&iname=대&addprice=2000", "cmd=97&storeidx=1&optiongroupidx=11&iname=소&addprice=0" },
            { "status:옵션 2개를 넣었습니다" } },
        { { "getmenuopts", "101" },
            { "cmd=92&storeidx=1&menuidx=101", "cmd=96&storeidx=1&optiongroupidx=1", "cmd=96&storeidx=1&optiongroupidx=2" },
            { "setMenuOptions({\"menuidx\":101,\"groups\":[{\"idx\":1,\"gname\":\"양\",\"requiredyn\":\"Y\"" } },
        { { "delmenuoptgroup", "11" }, { "cmd=95&storeidx=1&groupidx=11" }, {} },
        { { "delmenuoptitem", "999" }, { "cmd=99&storeidx=1&itemidx=999" }, { "status:옵션항목 삭제 실패 — 대상을 찾지 못했습니다" } },
        { { "setoptsoldout", "1", "1" }, { "cmd=101&storeidx=1&itemidx=1&soldout=1" }, {} },
        { { "editoptgroup", "2", "맵기", "Y", "N", "Y" }, { "cmd=94&storeidx=1&groupidx=2&gname=맵기&requiredyn=Y&multiselectyn=N&useyn=Y" }, {} },
        { { "editoptitem", "3", "순한맛", "0", "0", "Y" }, { "cmd=98&storeidx=1&itemidx=3&iname=순한맛&addprice=0&soldout=0&useyn=Y" }, {} },
        { { "delmenu", "111" }, { "cmd=102&storeidx=1&menuidx=111" }, { "status:메뉴를 지웠습니다.", "__pfPanelDone('del')" } },
        { { "menupanel", "101" }, { "cmd=9&storeidx=1", "cmd=11&storeidx=1&menuidx=101" },
            { "setMenuCategoryData(", "setMenuDetail(", "setPresetCategory(11)" } },
        { { "modifymenuname", "105", "돌솥비빔밥" }, { "cmd=12&storeidx=1&menuidx=105&value=돌솥비빔밥" }, {} },
        { { "modifymenuprice", "105", "10000" }, { "cmd=13&storeidx=1&menuidx=105&value=10000" }, {} },
        { { "modifymenucomment", "105", "돌솥에 나갑니다 & 뜨거워요" }, { "cmd=14&storeidx=1&menuidx=105&value=돌솥에 나갑니다 %26 뜨거워요" }, {} },
        { { "modifymenuuseyn", "105", "Y" }, { "cmd=15&storeidx=1&menuidx=105&value=Y" }, {} },
        { { "modifymenusoldout", "105", "0" }, { "cmd=16&storeidx=1&menuidx=105&value=0" }, {} },
        { { "modifymenudcrate", "105", "abc" }, { "cmd=43&storeidx=1&menuidx=105&value=abc" },
            { "status:저장이 거절되었습니다 — 입력값이 올바르지 않습니다" } },
        { { "menuadd", "13" }, {}, {} },
        { { "editmenu", "101" }, {}, {} },

        // pc
        { { "getproductlist", "0", "20", "new", "1" }, { "cmd=21&storeidx=1&offset=0&limit=20&order=new&withcat=1" }, { "setProductListData(" } },
        { { "getproductdetail", "501" }, { "cmd=22&storeidx=1&productidx=501" }, { "setProductDetail(" } },
        { { "productsel", "502" }, { "cmd=22&storeidx=1&productidx=502" }, { "setProductDetail(" } },
        { { "modifyproductname", "n1", "501", "수제 김치 1kg" }, { "cmd=23&storeidx=1&productidx=501&value=수제 김치 1kg" },
            { "status:수정했습니다", "setProductSetResult({\"key\":\"n1\",\"ok\":true,\"msg\":\"수정했습니다\",\"net\":false})" } },
        { { "modifyproductprice", "p", "501", "14000" }, { "cmd=24&storeidx=1&productidx=501&value=14000" }, { "status:수정했습니다", "setProductSetResult(" } },
        { { "modifyproductsaleprice", "s", "501", "12000" }, { "cmd=25&storeidx=1&productidx=501&value=12000" }, { "status:", "setProductSetResult(" } },
        { { "modifyproductstock", "t", "501", "30" }, { "cmd=26&storeidx=1&productidx=501&value=30" }, { "status:", "setProductSetResult(" } },
        { { "modifyproductcomment", "c", "501", "잘 익은 김치" }, { "cmd=27&storeidx=1&productidx=501&value=잘 익은 김치" }, { "status:", "setProductSetResult(" } },
        { { "modifyproductuseyn", "u", "501", "1" }, { "cmd=28&storeidx=1&productidx=501&value=1" }, { "status:", "setProductSetResult(" } },
        { { "modifyproductsoldout", "o", "501", "yes" }, { "cmd=29&storeidx=1&productidx=501&value=0" }, { "status:", "setProductSetResult(" } },
        { { "modifyproductdeliveryyn", "d", "501", "1" }, { "cmd=30&storeidx=1&productidx=501&value=1" }, { "status:", "setProductSetResult(" } },
        { { "modifyproductpickupyn", "k", "501", "0" }, { "cmd=31&storeidx=1&productidx=501&value=0" }, { "status:", "setProductSetResult(" } },
        { { "saveproductmall", "501", "Y", "반찬" }, { "cmd=39&storeidx=1&productidx=501&mallyn=Y&mallcategory=반찬" }, { "onMallSaved(" } },
        { { "setshopcat", "set", "501,502", "전통 장류" }, { "cmd=48&storeidx=1&act=set&idxs=501,502&shopcat=전통 장류" },
            { "onShopCatSaved({\"ok\":true,\"matched\":2,\"changed\":2})" } },
        { { "getqnalist", "1" }, { "cmd=88&storeidx=1&unanswered=1" }, { "setQnaList(" } },
        { { "answerqna", "2", "3일 걸립니다" }, { "cmd=89&storeidx=1&qnaidx=2&answer=3일 걸립니다" }, { "status:답변을 등록했습니다", "onQnaAnswered(2)" } },
        { { "storegood" }, {}, {} },
        { { "productadd" }, {}, {} },
        { { "editproduct", "501" }, {}, {} },

        // sales
        { { "getbuysales", "20260101", "20260131" }, { "cmd=64&storeidx=1&startday=20260101&endday=20260131" }, { "setBuySaleSummary(" } },
        { { "getbuysales", "", "", "product", "5" }, { "cmd=64&storeidx=1&group=product&top=5" }, { "setBuyProductRank(" } },
        { { "getsales", "20260101", "20260131", "0", "20", "ym" },
            { "cmd=54&storeidx=1&startday=20260101&endday=20260131&offset=0&limit=20&yday=1" }, { "setSaleMore(" } },
        { { "merchready", "sales.html", "1" }, { "cmd=54&storeidx=1" }, { "setSaleSummary(" } },
        { { "merchstate" }, {}, { "setMerchState(1,1,\"틸베이 한식당\")" } },
        { { "pcfix", "orders-top", "miss", "line one\nline two" }, {}, {} },

        // history
        { { "histsrv", "20260101", "20991231", "1" }, { "cmd=134&storeidx=1&from=20260101&to=20991231&page=1&size=200" }, { "setHistServer(\"{" } },
        { { "movetable", A, "5" }, { "cmd=113&storeidx=1&orderidx=" + A + "&tablenum=5" }, { "status:자리를 옮겼습니다" } },
        { { "swaptable", A, B }, { "cmd=114&storeidx=1&orderidxa=" + A + "&orderidxb=" + B }, { "status:자리를 바꿨습니다" } },

        // The staff password set to what it was, so the staff still sign in.
        { { "modypassword", "owner1234!", "pos1234!" }, { "cmd=7&storeidx=1&oldpassword=owner1234!&newpassword=pos1234!" },
            { "status:매장(POS) 비밀번호를 바꿨습니다" } },
    };
    for (auto const& c : cases)
        check(c);

    // The hooks of the commands that leave the table's reach.
    std::vector<std::string> const hooked {
        "open:https://img.example/menu/101.jpg",
        "script:(function(){try{var v=getBizValue(2);tillwave.viewinfo('applybizval</>2</>'+encodeURIComponent(String(v)));}catch(e){}})()",
        "script:try{window.print()}catch(e){}",
        "route:menu-edit.html?mode=add",
        "route:menu-edit.html?mode=edit",
        "route:storegood.html",
        "route:productadd.html",
        "route:productmodify.html?productidx=501",
        "record:sales.html",
        "refresh",
        "refresh",
    };
    EXPECT_EQ(m_hooked, hooked);

    // Every command of the table and every local command was run above.
    for (store::Row const* row : store::command_table())
        EXPECT_TRUE(m_covered.contains(std::string(row->name))) << row->name << " has no case";
    for (auto const& local : store::local_commands())
        EXPECT_TRUE(m_covered.contains(std::string(local.name))) << local.name << " has no case";
}

// merchready loads each page's data by its file name.
TEST_F(StoreRows, PageReadyPreloadsByPage)
{
    sign_in_owner();
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char today[16];
    std::strftime(today, sizeof today, "%Y%m%d", &tm);
    tm.tm_mday -= 6;
    tm.tm_isdst = -1;
    std::time_t week = std::mktime(&tm);
    localtime_r(&week, &tm);
    char start[16];
    std::strftime(start, sizeof start, "%Y%m%d", &tm);

    Case const cases[] = {
        { { "merchready", "products.html" }, { "cmd=21&storeidx=1&withcat=1" }, { "setProductListData(" } },
        { { "merchready", "more.html" }, { "cmd=86&storeidx=1", "cmd=74&storeidx=1&type=store" }, { "setSellerInfo(", "setReviewData(" } },
        { { "merchready", "ai-instruct.html" }, { "cmd=70&storeidx=1" }, { "setData(" } },
        { { "merchready", "policy.html" }, { "cmd=8&type=get&storeidx=1" }, { "setBizData(" } },
        { { "merchready", "delivery.html" }, { "cmd=60&storeidx=1&status=1" }, { "setBuyDeliveryList(" } },
        { { "merchready", "claims.html" }, { "cmd=84&storeidx=1" }, { "setClaimList(" } },
        { { "merchready", "storebuycancel.html" }, { "cmd=62&storeidx=1" }, { "setBuyCancelList(" } },
        { { "merchready", "product-sales.html" }, { "cmd=64&storeidx=1&startday=" + std::string(start) + "&endday=" + today },
            { "setBuySaleSummary(" } },
        { { "merchready", "storeseller.html" }, { "cmd=86&storeidx=1" }, { "setSellerInfo(" } },
        { { "merchready", "storepromo.html" }, { "cmd=40&storeidx=1" }, { "setPromotions(" } },
        { { "merchready", "messages.html" }, { "cmd=56" }, { "setMessageList(" } },
        { { "merchready", "storehours.html" }, { "cmd=76&storeidx=1" }, { "setBizSetting(" } },
        { { "merchready", "menu.html", "1", "old" }, { "cmd=9&storeidx=1" }, { "setMenuCategoryData(" } },
        { { "merchready", "home.html" }, { "cmd=55&storeidx=1" }, { "setMainDash(", "applyStoreType(1,true)", "setStoreName(\"틸베이 한식당\")" } },
        { { "merchready", "kds.html" }, {}, {} },
        { { "merchready", "unknown.html" }, {}, {} },
        // The menu editor: a new menu in a preset category, then an existing menu with its options.
        { { "menuadd", "13" }, {}, {} },
        { { "merchready", "menu-edit.html?mode=add" }, { "cmd=9&storeidx=1" }, { "setMenuCategoryData(", "setPresetCategory(\"13\")" } },
        { { "editmenu", "104" }, {}, {} },
        { { "merchready", "menu-edit.html?mode=edit" },
            { "cmd=9&storeidx=1", "cmd=11&storeidx=1&menuidx=104", "cmd=92&storeidx=1&menuidx=104", "cmd=96&storeidx=1&optiongroupidx=7" },
            { "setMenuCategoryData(", "setMenuDetail(", "setMenuOptions({\"menuidx\":104" } },
    };
    for (auto const& c : cases)
        check(c);
    EXPECT_EQ(m_hooked, (std::vector<std::string> { "record:menu.html:old", "poll", "route:menu-edit.html?mode=add", "route:menu-edit.html?mode=edit" }));
}

// Every failure answers the page: the row's failure function or one text.
TEST_F(StoreRows, FailuresAnswerThePageAndSendNothingUnsendable)
{
    sign_in_owner();
    std::string const long_reply(2100, 'a');
    std::string const missing = "status:필요한 값이 빠져 있어 보내지 않았습니다";
    Case const cases[] = {
        // Too few arguments: nothing sent, the failure function or a text.
        { { "getmenulist" }, {}, { missing } },
        { { "messagenext" }, {}, { missing, "failMessageNext()" } },
        { { "histsrv", "20260101" }, {}, { missing, "setHistServer(null)" } },
        { { "modifyproductprice", "k" }, {}, { missing, "setProductSetResult({\"key\":\"k\",\"ok\":false,\"msg\":\"필요한 값이 빠져" } },
        { { "addproductx", "k" }, {}, { missing, "setProductAddResult({\"key\":\"k\",\"ok\":false" } },
        { { "cancelbuy" }, {}, { missing, "setCancelLoading(0)" } },
        { { "applybizval", "3" }, {}, { missing, "setBizApplyResult({\"mode\":3,\"ok\":false})" } },
        { { "answerqna", "4" }, {}, { missing, "onQnaAnswered(0)" } },
        { { "addproduct", "x" }, {}, { missing, "addProductFail()" } },
        { { "addmenu", "13" }, {}, { missing, "addMenuFail()" } },
        { { "setshopcat", "set" }, {}, { missing, "onShopCatSaved({\"ok\":false" } },
        { { "getbuysales", "", "", "product" }, { "cmd=64&storeidx=1&group=product&top=10" }, { "setBuyProductRank(" } },
        { { "merchready" }, {}, { missing } },
        // Values that cannot go into a request.
        { { "reviewreply", "2", std::string("bell\x07") }, {}, { "status:입력값에 쓸 수 없는 글자(제어 문자)가 있습니다", "reloadCurrentReviews()" } },
        { { "reviewreply", "2", long_reply }, {}, { "status:입력한 내용이 너무 깁니다", "reloadCurrentReviews()" } },
        { { "modifytel", std::string(520, '1') }, {}, { "status:입력한 내용이 너무 깁니다" } },
        { { "movetable", "12a", "3" }, {}, { "status:입력값이 올바르지 않습니다" } },
        { { "histsrv", "20260101", "20261231", "x" }, {}, { "status:입력값이 올바르지 않습니다", "setHistServer(null)" } },
        { { "modifyproductprice", "k", "501", "12,000" }, {}, { "status:입력값이 올바르지 않습니다", "setProductSetResult({\"key\":\"k\",\"ok\":false" } },
        { { "setshopcat", "set", "1,a", "x" }, {}, { "status:상품 번호는 숫자와 쉼표만 쓸 수 있어요", "onShopCatSaved({\"ok\":false" } },
        { { "setshopcat", "rename", "", "x" }, {}, { "status:분류 이름에 쓸 수 없는 글자가 있거나 너무 길어요", "onShopCatSaved(" } },
        { { "setshopcat", "move", "1", "x" }, {}, { "status:요청 모양이 달라요", "onShopCatSaved(" } },
        { { "modypassword", "a&b", "pos1234" }, {}, { "status:사장님 비밀번호에 & 나 = 가 있으면 여기서는 보낼 수 없습니다" } },
        { { "modypassword", "owner1234!", "p" }, {}, { "status:새 비밀번호는 4~20자" } },
        { { "viewphoto", "" }, {}, { "status:아직 등록된 것이 없습니다" } },
        // Refusals show the row's text with the server's reason, and the list again.
        { { "delpromo", "999" }, { "cmd=42&storeidx=1&promoidx=999", "cmd=40&storeidx=1" },
            { "status:요청이 거절되었습니다 — 대상을 찾지 못했습니다", "setPromotions(" } },
        { { "deleteproduct", "999" }, { "cmd=83&storeidx=1&productidx=999" }, { "status:요청이 거절되었습니다 — 대상을 찾지 못했습니다" } },
        { { "savebizhours", "25:00", "22:00", "", "" }, { "cmd=77&storeidx=1&opentime=25:00&closetime=22:00&breakstart=&breakend=&holidays=", "cmd=76&storeidx=1" },
            { "status:영업시간을 저장하지 못했습니다 — 여는 시각과 닫는 시각은 00:00 모양으로 넣어 주세요", "setBizSetting(" } },
        { { "getsales", "20200101", "20251231" }, { "cmd=54&storeidx=1&startday=20200101&endday=20251231" },
            { "status:매출을 받지 못했습니다 — 기간은 366일까지 볼 수 있습니다", "setSaleError()" } },
        { { "movetable", "1", "99" }, { "cmd=113&storeidx=1&orderidx=1&tablenum=99" }, { "status:자리를 옮기지 못했습니다 — 없는 자리 번호입니다" } },
    };
    for (auto const& c : cases)
        check(c);
    EXPECT_EQ(m_hooked, (std::vector<std::string> { "refresh" })) << "a refused move still shows the board as it is";
}

// A command the server never answers leaves the page's data as it was.
TEST_F(StoreRows, NoAnswerShowsTheRowsTextWithTheReason)
{
    sign_in_owner();
    g_platform->control("POST", "/control/faults", R"({"listener":"api","cmd":34,"kind":"close"})");
    g_platform->control("POST", "/control/faults", R"({"listener":"api","cmd":74,"kind":"close"})");
    check({ { "addcategory", "야식" }, { "cmd=34&storeidx=1&ctname=야식" }, { "status:서버에 보내지 못했습니다 — 서버가 연결을 끊었습니다" } });
    check({ { "review_loaded" }, { "cmd=74&storeidx=1&type=store" }, { "status:서버가 연결을 끊었습니다" } });
}

// Without an owner, owner commands send nothing; the server's history
// refuses the staff's token with 6201.
TEST_F(StoreRows, WithoutTheOwner)
{
    sign_in_staff();
    Case const cases[] = {
        { { "menuready" }, {}, { "status:가맹점 로그인이 필요합니다" } },
        { { "messagenext", "5" }, {}, { "status:가맹점 로그인이 필요합니다", "failMessageNext()" } },
        { { "savebizhours", "10:00", "22:00", "", "" }, {}, { "status:가맹점 로그인이 필요합니다" } },
        { { "modifyshopname", "x" }, {}, { "status:저장하지 못했습니다 — 가맹점 로그인이 되어 있지 않습니다" } },
        { { "modifyproductname", "k", "501", "x" }, {},
            { "status:가맹점 로그인이 필요합니다", "setProductSetResult({\"key\":\"k\",\"ok\":false,\"msg\":\"가맹점 로그인이 필요합니다\",\"net\":false})" } },
        { { "setshopcat", "rename", "a", "b" }, {}, { "status:가맹점 로그인이 필요해요", "onShopCatSaved(" } },
        { { "merchready", "sales.html" }, {}, { "status:가맹점 로그인이 필요합니다" } },
        { { "merchstate" }, {}, { "setMerchState(0,0,\"\")" } },
        { { "histsrv", "20260101", "20991231", "1" }, { "cmd=134&storeidx=1&from=20260101&to=20991231&page=1&size=200" },
            { "status:점주 로그인이 필요합니다", "histDenied()" } },
    };
    for (auto const& c : cases)
        check(c);
    session::reset();
    check({ { "movetable", "1", "2" }, {}, { "status:로그인이 필요합니다" } });
}

// Each slot holds only its own commands, and every table row runs on the lane.
TEST(StoreTable, RowsRunOnTheLaneAndNamesAreUniquePerSlot)
{
    store::Context context;
    std::set<std::pair<int, std::string_view>> seen;
    for (store::Row const* row : store::command_table()) {
        EXPECT_TRUE(seen.insert({ static_cast<int>(row->slot), row->name }).second) << row->name << " twice in one slot";
        EXPECT_EQ(store::StoreFamily(row->slot, context).runs(row->name), bridge::Runs::OnLane) << row->name;
    }
    for (auto const& local : store::local_commands())
        EXPECT_EQ(store::StoreFamily(local.slot, context).runs(local.name), bridge::Runs::OnUiThread) << local.name;
    // modifytablenum lives in the menu family only: the store family never sees it.
    EXPECT_EQ(store::find_row(store::Slot::Store, "modifytablenum"), nullptr);
    EXPECT_NE(store::find_row(store::Slot::Menu, "modifytablenum"), nullptr);
}
