#include "bridge_fixture.h"

using namespace tillbay::bridge;
using namespace tillbay::bridge::testing;

namespace {

constexpr PageClass C0 = PageClass::None;
constexpr PageClass C1 = PageClass::Login;
constexpr PageClass C2 = PageClass::Orders;
constexpr PageClass C3 = PageClass::UiBundle;
constexpr PageClass C4 = PageClass::AddressPage;
constexpr PageClass C5 = PageClass::Customer;
constexpr Refusal OK = Refusal::None;
constexpr Refusal MSG = Refusal::Message;
constexpr Refusal CAP = Refusal::DocumentCapability;
constexpr Refusal ARG = Refusal::Arguments;

struct Case {
    std::string message;
    PageClass page;
    Refusal expected;
};

void check(std::vector<Case> const& cases)
{
    PagePolicy policy = make_policy();
    for (auto const& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 80) + " on class " + std::to_string(static_cast<int>(c.page)));
        EXPECT_EQ(refusal_reason(admit(c.message, c.page, policy)), refusal_reason(c.expected));
    }
}

TEST(Admission, MessageStage)
{
    check({
        { "getorders", C0, MSG },
        { "getorders", C5, MSG },
        { "getorders", C2, OK },
        { "", C2, MSG },
        { "GetOrders", C2, MSG },          // upper case
        { "get-orders", C2, MSG },         // hyphen
        { std::string(41, 'a'), C2, MSG }, // 41 characters
        { std::string(40, 'a'), C2, OK },
        { "</>x", C2, MSG },               // empty name
        { std::string("get\0x", 5), C2, MSG },
        { "save</>a\x7f", C2, MSG },
        { "save</>a\x1b", C2, MSG },
        { "save</>a\tb\nc\rd", C2, OK },
        { "save</>\xC3\x28", C2, MSG },     // broken UTF-8
        { "save</>\xED\xA0\x80", C2, MSG }, // a surrogate
        { "\x01navdone</>1", C2, MSG },    // a page can never send an internal command
        { "save</>한글 메모", C2, OK },
    });
}

TEST(Admission, FieldCountAndSizeLimits)
{
    std::string forty = "save";
    for (int i = 0; i < 39; ++i)
        forty += "</>";
    check({
        { forty, C2, OK },
        { forty + "</>", C2, MSG },
        { "qrpng</>" + std::string(300'000, 'A'), C2, OK },
        { "qrpng</>" + std::string(300'000, 'A'), C3, OK },
        { "saveimage</>" + std::string(300'000, 'A'), C2, MSG },
        { "save</>" + std::string(max_plain_message_bytes - 7, 'A'), C2, OK },
        { "save</>" + std::string(max_plain_message_bytes - 6, 'A'), C2, MSG },
        { "qrpng</>" + std::string(max_message_bytes - 8, 'A'), C2, OK },
        { "qrpng</>" + std::string(max_message_bytes - 7, 'A'), C2, MSG },
    });
}

TEST(Admission, DocumentCapability)
{
    check({
        { "getlayout", C1, CAP },
        { "login</>id</>pw", C1, OK },
        { "getfull", C1, OK },
        { "getfull</>x", C1, ARG },
        { "updateretry", C1, OK },
        { "getlayout", C4, CAP },
        { "back", C4, OK },
        { "back</>1", C4, OK },
        { "back</>2", C4, ARG },
        { "back</>2", C2, OK }, // `back` has no rule elsewhere
        { "getlayout", C2, OK },
        { "getlayout", C3, OK },
    });
}

TEST(Admission, ArgumentRules)
{
    check({
        { "setfull", C1, OK },
        { "setfull</>1", C1, OK },
        { "setfull</>0", C2, OK },
        { "setfull</>2", C1, ARG },
        { "setfull</>1</>1", C2, ARG },
        { "setloginmode</>pos", C1, OK },
        { "setloginmode</>merch", C1, OK },
        { "setloginmode</>Pos", C1, ARG },
        { "setloginmode", C1, ARG },
        { "restartapp</>", C2, ARG },        // an empty argument is still an argument
        { "setmerchantkbd</>1", C3, OK },
        { "setmerchantkbd</>2", C3, ARG },
        { "getmerchantkbd", C2, OK },
        { "discoverprinters</>k</>30", C2, OK },
        { "discoverprinters</>k</>30", C3, ARG },
        { "discoverprinters</>x</>30", C2, ARG },
        { "discoverprinters</>r</>" + std::string(21, '1'), C2, ARG },
        { "discoverprinters</>r</>", C2, ARG },
        { "cancelprinterdiscovery</>12", C2, OK },
        { "cancelprinterdiscovery</>-1", C2, ARG },
        { "getprintlinks</>r", C2, OK },
        { "setprintlink</>k</>tcp:192.168.0.30:9100", C2, OK },
        { "setprintlink</>k</>" + std::string(1023, 'a'), C2, OK },
        { "setprintlink</>k</>" + std::string(1024, 'a'), C2, ARG },
        { "setprintlink</>k</>a\"b", C2, ARG },
        { "minimizewindow", C2, OK },
        { "minimizewindow", C3, ARG },
        { "printa4", C3, OK },
        { "printa4", C2, ARG },
        { "openinvoicefile", C3, OK },
        { "openinvoicefile</>x", C3, OK },
        { "openinvoicefile</>y", C3, ARG },
        { "mallshipcsv</>2024-01</>20240101</>20240131</>상품</>all</>basic", C3, OK },
        { "mallshipcsv</>2024-01</>20240101</>20240131</>상품</>all</>basic</>memo</>xlsx", C3, OK },
        { "mallshipcsv</>2024-01</>20240101</>20240131</>상품</>all</>basic</>memo</>csv", C3, ARG },
        { "mallshipcsv</>2024-01</>20240101</>20240131</>상품</>all</>full", C3, ARG },
        { "mallshipcsv</>2024-011</>20240101</>20240131</>상품</>all</>basic", C3, ARG },
        { "mallshipcsv</>a</>b</>c</>d</>e</>basic", C2, ARG },
        { "mallsavecsv</>fail</>a,b,c", C3, OK },
        { "mallsavecsv", C3, ARG },
        { "mallsavecsv</>fail", C3, ARG },
        { "mallsavecsv</>template</>a</>xlsx</>x", C3, ARG },
        { "mallsavecsv</>fail</>", C3, ARG },
        { "mallsavecsv</>template</>a,b</>xlsx", C3, OK },
        { "mallsavecsv</>template</>a,b</>csv", C3, ARG },
        { "mallsavecsv</>fail</>" + std::string(204'801, 'a'), C3, ARG },
        { "somethingnew</>any</>thing", C3, OK },
    });
}

TEST(Admission, AddressPageGpsPosition)
{
    check({
        { "setgpspos</>서울특별시 중구 세종대로 110</>37.56</>126.97", C4, OK },
        { "setgpspos</>addr</>-90</>-180", C4, OK },
        { "setgpspos</>addr</>90.0</>180", C4, OK },
        { "setgpspos</>addr</>90.5</>126.97", C4, ARG },
        { "setgpspos</>addr</>37.56</>180.01", C4, ARG },
        { "setgpspos</>addr</>3.7e1</>126.97", C4, ARG },   // exponent
        { "setgpspos</>addr</>--37</>126.97", C4, ARG },    // two minus signs
        { "setgpspos</>addr</>+37</>126.97", C4, ARG },
        { "setgpspos</>addr</>37..5</>126.97", C4, ARG },
        { "setgpspos</>addr</>.</>126.97", C4, ARG },
        { "setgpspos</>addr</>-.5</>5.", C4, OK },
        { "setgpspos</>addr</>nan</>126.97", C4, ARG },
        { "setgpspos</>addr</>" + std::string(25, '0') + "</>1", C4, ARG },
        { "setgpspos</></>37.56</>126.97", C4, ARG },
        { "setgpspos</>" + std::string(601, 'a') + "</>37.56</>126.97", C4, ARG },
        { "setgpspos</>a<b</>37.56</>126.97", C4, ARG },
        { "setgpspos</>addr</>37.56", C4, ARG },
        { "setgpspos</>addr</>37.56</>126.97", C2, ARG },   // only the address page sends it
    });
}

TEST(Admission, PhotoAndPdfAddressesStayOnTheWebHost)
{
    check({
        { "viewphoto</>/upload/a.jpg", C2, OK },
        { "viewphoto</>https://shop.example.com/upload/a.jpg", C3, OK },
        { "openpdf</>https://SHOP.example.com:443/doc.pdf?x=1", C3, OK },
        { "viewphoto</>//evil.example.com/a.jpg", C2, ARG },
        { "viewphoto</>http://shop.example.com/a.jpg", C2, ARG },
        { "viewphoto</>https://shop.example.com:8443/a.jpg", C2, ARG },
        { "viewphoto</>https://evil.example.com/a.jpg", C2, ARG },
        { "viewphoto</>file:///etc/passwd", C2, ARG },
        { "viewphoto</>twpos://ui.tillbay.invalid/merchant/menu.html", C2, ARG },
        { "viewphoto</>/../etc/passwd", C2, ARG },
        { "viewphoto</>a.jpg", C2, ARG },
        { "viewphoto", C2, ARG },
        { "viewphoto</>/a.jpg", C4, CAP },
    });
}

TEST(Admission, SplitKeepsEmptyFields)
{
    EXPECT_EQ(split_fields(""), std::vector<std::string> { "" });
    EXPECT_EQ(split_fields("a"), std::vector<std::string> { "a" });
    EXPECT_EQ(split_fields("a</>"), (std::vector<std::string> { "a", "" }));
    EXPECT_EQ(split_fields("a</></>b"), (std::vector<std::string> { "a", "", "b" }));
    EXPECT_EQ(split_fields("a<</>>b</"), (std::vector<std::string> { "a<", ">b</" }));
}

} // namespace
