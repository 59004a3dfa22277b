#include "printing/receipt_layout.h"
#include "printing/receipt_record.h"
#include "tools/printer/escpos_decoder.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::printing;

namespace {

constexpr char const* sale_json = R"({"shopname":"틸베이 한식당","address":"서울특별시 마포구 양화로 45 1층",)"
    R"("biznumber":"214-86-53129","bizname":"김민준","tel":"0231435521","tid":"7012345678","vat":1,)"
    R"("ordernum":"17","idate":"2024-05-01 12:30","tablenum":3,"paymethod":"CARD",)"
    R"("requestmemo":"덜 맵게\u001bp\u0000\u0019\u00fa 부탁","totalamount":21000,"usekjeon":0,"usemilege":0,)"
    R"("payamount":21000,"menus":[{"mname":"김치찌개","qty":2,"price":9000,"amount":18000,)"
    R"("options":[{"optionname":"곱빼기","optionprice":0}]},{"mname":"","qty":1,"amount":1},)"
    R"({"mname":"공기밥","qty":3,"price":1000,"amount":3000}],"cards":[{"issueCardName":"신한카드",)"
    R"("cardNoEnc":"9410-12**-****-3456","installment":"0","applNo":"30012345","amount":21000,"cancelYN":"N",)"
    R"("cancelAmount":0,"tranDate":"20240501","tranTime":"123512"}],"status":1,"udate":0})";

PrinterRecord printer(int width)
{
    PrinterRecord record;
    record.width = width;
    record.biggap = 0;
    return record;
}

// The paper as the virtual printer reads it.
std::string paper(std::string const& bytes)
{
    return printer::render_text(printer::decode(bytes));
}

TEST(ReceiptRules, BusinessNumber)
{
    struct Case {
        std::string stored;
        std::optional<std::string> printed;
    };
    std::vector<Case> const cases {
        { "214-86-53129", "214-86-53129" },
        { "2148653129", "214-86-53129" },
        { "214 86 53129 ", "214-86-53129" },
        { "214-86-53127", std::nullopt },
        { "101-81-12345", std::nullopt },
        { "220-81-62517", "220-81-62517" },
        { "214-86-5312", std::nullopt },
        { "", std::nullopt },
        { "214-86-531290", std::nullopt },
    };
    for (auto const& c : cases)
        EXPECT_EQ(business_number_text(c.stored), c.printed) << c.stored;
}

TEST(ReceiptRules, Telephone)
{
    struct Case {
        std::string stored;
        std::string printed;
    };
    std::vector<Case> const cases {
        { "0231435521", "02-3143-5521" },
        { "0311234567", "031-123-4567" },
        { "021234567", "02-123-4567" },
        { "01012345678", "010-1234-5678" },
        { "010-1234-5678", "010-1234-5678" },
        { "15881234", "15881234" },
        { "1588-1234", "1588-1234" },
        { "031123456", "031123456" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(telephone_text(c.stored), c.printed) << c.stored;
}

TEST(ReceiptRules, VatAndUnitPrice)
{
    struct VatCase {
        long long paid, supply, vat;
    };
    for (auto const& c : std::vector<VatCase> { { 11000, 10000, 1000 }, { 12000, 10909, 1091 }, { 1, 1, 0 }, { 0, 0, 0 },
             { 21000, 19091, 1909 } }) {
        EXPECT_EQ(vat_split(c.paid).supply, c.supply) << c.paid;
        EXPECT_EQ(vat_split(c.paid).vat, c.vat) << c.paid;
    }
    struct PriceCase {
        long long qty, price, amount;
        std::string text;
    };
    for (auto const& c : std::vector<PriceCase> { { 3, 0, 10000, "3,333" }, { 3, 0, 10001, "3,334" }, { 2, 0, 9001, "4,501" },
             { 0, 0, 5000, "" }, { 0, 4500, 0, "4,500" }, { -1, 0, 0, "" } }) {
        MenuLine line;
        line.qty = c.qty;
        line.price = c.price;
        line.amount = c.amount;
        EXPECT_EQ(unit_price_text(line), c.text) << c.qty << " " << c.amount;
    }
}

TEST(ReceiptRecord, FilledFromTheServersAnswer)
{
    auto record = receipt_from_json(sale_json);
    EXPECT_EQ(record.shop_name, "틸베이 한식당");
    EXPECT_EQ(record.representative, "김민준");
    EXPECT_EQ(record.tablenum, 3);
    EXPECT_EQ(record.paid, 21000);
    ASSERT_EQ(record.menus.size(), 2u) << "a menu without a name is skipped";
    EXPECT_EQ(record.menus[0].name, "김치찌개 (곱빼기)");
    EXPECT_EQ(record.menus[1].qty, 3);
    ASSERT_EQ(record.cards.size(), 1u);
    EXPECT_EQ(record.cards[0].sale_time, "2024-05-01 12:35");
    EXPECT_EQ(record.vat, 1);
    EXPECT_EQ(receipt_from_json("{}").vat, 1) << "an absent VAT flag counts as set";
    EXPECT_EQ(card_time_text("2024050", "1200"), "");
    EXPECT_EQ(card_time_text("20240501", "12"), "2024-05-01");

    std::string many = R"({"menus":[)";
    for (int i = 0; i < 70; ++i)
        many += std::string(i ? "," : "") + R"({"mname":"m)" + std::to_string(i) + R"(","qty":1,"amount":1,"options":[)"
            + R"({"optionname":"a"},{"optionname":"b"},{"optionname":"c"},{"optionname":"d"},{"optionname":"e"},)"
            + R"({"optionname":"f"},{"optionname":"g"},{"optionname":"h"},{"optionname":"i"}]})";
    many += R"(],"cards":[{},{},{},{},{}]})";
    auto capped = receipt_from_json(many);
    EXPECT_EQ(capped.menus.size(), max_menu_lines);
    EXPECT_EQ(capped.cards.size(), max_cards);
    EXPECT_EQ(capped.menus[0].name, "m0 (a, b, c, d, e, f, g, h)") << "at most eight options";
    std::string long_name = R"({"menus":[{"mname":")" + std::string(120, 'x') + R"(","options":[{"optionname":"가나다라마바"}]}]})";
    EXPECT_LE(receipt_from_json(long_name).menus[0].name.size(), 127u);
}

TEST(ReceiptRecord, Adjustments)
{
    auto sale = receipt_from_json(sale_json);
    sale.cards.push_back(sale.cards[0]);
    sale.cards[0].cancelled = true;
    sale.cards[0].cancel_time = "2024-05-02 09:00";
    auto plain = sale;
    adjust(plain, {});
    EXPECT_FALSE(plain.cancel_mode);
    EXPECT_EQ(plain.cards.size(), 1u) << "a cancelled card leaves a sale receipt";

    auto cancel = sale;
    adjust(cancel, { .cancel = true });
    EXPECT_TRUE(cancel.cancel_mode);
    EXPECT_EQ(cancel.cards.size(), 2u);
    EXPECT_EQ(cancel.cancel_time, "2024-05-02 09:00");

    auto outside = sale;
    outside.status = 4;
    adjust(outside, { .external_terminal = true, .reissue = true, .now = 1714530600 });
    EXPECT_FALSE(outside.cancel_mode);
    EXPECT_EQ(outside.status, 0);
    EXPECT_EQ(outside.paymethod, "카드 단말기(POS 밖)");
    EXPECT_TRUE(outside.reissue);
    EXPECT_EQ(outside.reissue_time, local_minute_text(1714530600));
}

TEST(ReceiptRecord, Merge)
{
    auto a = receipt_from_json(sale_json);
    auto b = receipt_from_json(sale_json);
    b.ordernum = "18";
    b.menus.push_back({ "사이다", 1, 2000, 2000 });
    merge(a, b);
    ASSERT_EQ(a.menus.size(), 3u);
    EXPECT_EQ(a.menus[0].qty, 4);
    EXPECT_EQ(a.menus[0].amount, 36000);
    EXPECT_EQ(a.paid, 42000);
    EXPECT_EQ(a.ordernum, "17+18");
    EXPECT_EQ(std::count(a.request.begin(), a.request.end(), '/'), 0) << "the same request is not repeated";
    EXPECT_EQ(a.cards.size(), 2u);
}

TEST(ReceiptLayout, SaleReceiptOn58mmPaper)
{
    auto record = receipt_from_json(sale_json);
    adjust(record, {});
    auto document = build_receipt(record, printer(58), WithView::No);
    ASSERT_TRUE(document.ok());
    EXPECT_EQ(paper(document.value().bytes), R"([initialise][line spacing default][align center][print mode 0x30 (size 2x2)]영수증
[print mode 0x00 (normal)][align left]
상호  : 틸베이 한식당
사업자: 214-86-53129
대표자: 김민준
주소  : 서울특별시 마포구 양화로
 45 1층
전화  : 02-3143-5521

테이블: 3
2024-05-01 12:30           No.17
================================
            단가  수량      금액
--------------------------------
01 김치찌개 (곱빼기)
           9,000     2    18,000
02 공기밥
           1,000     3     3,000
--------------------------------
[print mode 0x30 (size 2x2)]판매금액  21,000
[print mode 0x00 (normal)][print mode 0x30 (size 2x2)]받을금액  21,000
[print mode 0x00 (normal)]과세금액                  21,000
면세금액                       0
공급가액                  19,091
부 가 세                   1,909
--------------------------------
[print mode 0x30 (size 2x2)]받은금액  21,000
[print mode 0x00 (normal)]01.신용카드               21,000
================================
[align center]**** 신용카드 매출전표 ****
[align left]--------------------------------
카드사: 신한카드
카드번호: 9410-12**-****-3456
할부  : 일시불
승인번호: 30012345
승인금액                  21,000
공급가액                  19,091
부 가 세                   1,909
가맹점: 7012345678
--------------------------------
요청사항
덜 맵게p? 부탁
--------------------------------

[align center]감사합니다
[align left]


[cut partial after feed 0]
)");
    EXPECT_EQ(document.value().bytes.find("\x1bp"), std::string::npos) << "the memo's ESC p never reaches the printer";
}

TEST(ReceiptLayout, CancelReceiptOn80mmPaperWithItsView)
{
    auto record = receipt_from_json(sale_json);
    record.cards[0].cancelled = true;
    record.cards[0].cancel_amount = 21000;
    record.cards[0].cancel_ref = "C17";
    record.cards[0].cancel_time = "2024-05-02 09:10";
    record.request.clear();
    adjust(record, { .cancel = true });
    auto document = build_receipt(record, printer(80), WithView::Yes);
    ASSERT_TRUE(document.ok());
    std::string text = paper(document.value().bytes);
    for (std::string line : { "[align center][print mode 0x30 (size 2x2)]취소 영수증\n",
             "[print mode 0x00 (normal)](신용카드 매출취소 전표)\n", "취소일시: 2024-05-02 09:10\n",
             "원거래  : 2024-05-01 12:30\n", "원주문  : No.17\n", "                        단 가  수량        금 액\n",
             "                        9,000     2      -18,000\n",
             "[print mode 0x30 (size 2x2)]취소금액         -21,000\n",
             "[print mode 0x30 (size 2x2)]환불금액         -21,000\n",
             "[print mode 0x30 (size 2x2)]환불 처리        -21,000\n",
             "[align center]**** 신용카드 매출취소 전표 ****\n", "카드번호: 9410-12**-****-3456 (일시불)\n",
             "원승인번호    30012345  취소금액          21,000\n", "취소승인: C17\n", "원거래일시: 2024-05-01 12:35\n",
             "[align center]취소 처리되었습니다\n" }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n--- in ---\n" << text;
    }
    std::string const& view = document.value().view;
    EXPECT_TRUE(view.starts_with(R"([{"t":"sec","n":"title"},{"t":"tx","s":"취소 영수증","a":1,"z":1,"b":0},)")) << view;
    EXPECT_NE(view.find(R"j({"t":"item","n":"01 김치찌개 (곱빼기)","p":"9,000","q":"2","a":"-18,000"})j"), std::string::npos);
    EXPECT_NE(view.find(R"({"t":"kv","l":"취소금액","v":"-21,000","a":0,"z":1,"b":0})"), std::string::npos);
    EXPECT_TRUE(view.ends_with(R"({"t":"nl"},{"t":"nl"},{"t":"nl"}])")) << view;
}

TEST(ReceiptLayout, CashRefundAndOtherCancellations)
{
    struct Case {
        std::string paymethod;
        std::string line;
        bool card_cancel_line;
    };
    for (auto const& c : std::vector<Case> { { "CASH", "(현금 환불)", false }, { "현금(영수증)", "(현금 환불)", false },
             { "KJEON", "(결제 취소)", true }, { "", "(결제 취소)", false } }) {
        auto record = receipt_from_json(sale_json);
        record.cards.clear();
        record.paymethod = c.paymethod;
        adjust(record, { .cancel = true });
        auto text = paper(build_receipt(record, printer(80), WithView::No).value().bytes);
        EXPECT_NE(text.find(c.line), std::string::npos) << c.paymethod;
        EXPECT_EQ(text.find("카드 결제 취소") != std::string::npos, c.card_cancel_line) << c.paymethod;
    }
}

TEST(ReceiptLayout, PointsMileageAndReissue)
{
    auto record = receipt_from_json(sale_json);
    record.points = 1000;
    record.mileage = 500;
    record.paid = 19500;
    record.biznumber = "214-86-53127";
    adjust(record, { .reissue = true, .now = 1714530600 });
    auto text = paper(build_receipt(record, printer(58), WithView::No).value().bytes);
    EXPECT_NE(text.find("케이전                    -1,000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("마일리지                    -500\n"), std::string::npos) << text;
    EXPECT_NE(text.find("(부가세 포함)\n"), std::string::npos) << "points used: no tax split";
    EXPECT_NE(text.find("(재발행 " + local_minute_text(1714530600) + ")"), std::string::npos);
    EXPECT_EQ(text.find("사업자"), std::string::npos) << "a wrong check digit leaves the business number out";
}

} // namespace
