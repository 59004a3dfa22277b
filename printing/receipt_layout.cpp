#include "printing/receipt_layout.h"

#include <cstdio>

namespace tillbay::printing {

namespace {

std::string digits_of(std::string_view text)
{
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9' && digits.size() < 31)
            digits.push_back(c);
    }
    return digits;
}

std::string grouped(std::string_view digits, std::initializer_list<size_t> sizes)
{
    std::string out;
    size_t at = 0;
    for (size_t size : sizes) {
        if (!out.empty())
            out.push_back('-');
        out.append(digits.substr(at, size));
        at += size;
    }
    return out;
}

// The months of an installment text ("3", "03", "3개월"); 0 when it holds none.
long long installment_months(std::string_view text)
{
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > 1000)
            break;
    }
    return value;
}

void store_section(DocumentWriter& w, ReceiptRecord const& r)
{
    w.section("store");
    if (!r.shop_name.empty())
        w.label_value("상호", r.shop_name);
    if (auto number = business_number_text(r.biznumber))
        w.label_value("사업자", *number);
    if (!r.representative.empty())
        w.label_value("대표자", r.representative);
    if (!r.address.empty())
        w.label_value_wrapped("주소", r.address);
    if (!r.tel.empty())
        w.label_value("전화", telephone_text(r.tel));
    w.newline();
}

void order_section(DocumentWriter& w, ReceiptRecord const& r)
{
    w.section("order");
    bool cancel = r.cancel_mode;
    if (cancel && !r.cancel_time.empty())
        w.label_value("취소일시", r.cancel_time);
    if (r.tablenum > 0)
        w.label_value("테이블", std::to_string(r.tablenum));
    std::string number = r.ordernum.empty() ? std::string {} : "No." + r.ordernum;
    if (!cancel) {
        w.left_right(r.order_time, number);
        return;
    }
    w.label_value("원거래", r.order_time);
    if (!number.empty())
        w.label_value("원주문", number);
}

void items_section(DocumentWriter& w, ReceiptRecord const& r, long long sign)
{
    w.section("items");
    w.rule('=');
    if (w.columns() < 40)
        w.three_columns("단가", "수량", "금액");
    else
        w.three_columns("단 가", "수량", "금 액");
    w.rule('-');
    int index = 0;
    for (auto const& line : r.menus) {
        char head[16];
        std::snprintf(head, sizeof head, "%02d ", ++index);
        w.item(head + line.name, unit_price_text(line), std::to_string(line.qty), won(sign * line.amount));
    }
}

void sum_section(DocumentWriter& w, ReceiptRecord const& r, long long sign)
{
    bool cancel = r.cancel_mode;
    w.section("sum");
    w.rule('-');
    w.big_line(cancel ? "취소금액" : "판매금액", won(sign * r.total));
    if (r.points > 0)
        w.left_right(cancel ? "케이전 반환" : "케이전", won(-(sign * r.points)));
    if (r.mileage > 0)
        w.left_right(cancel ? "마일리지 반환" : "마일리지", won(-(sign * r.mileage)));
    w.big_line(cancel ? "환불금액" : "받을금액", won(sign * r.paid));
}

void tax_section(DocumentWriter& w, ReceiptRecord const& r, long long sign)
{
    if (!r.vat)
        return;
    w.section("tax");
    if (r.points == 0 && r.paid > 0) {
        VatSplit split = vat_split(r.paid);
        w.two_pairs("과세금액", won(sign * r.paid), "면세금액", "0");
        w.two_pairs("공급가액", won(sign * split.supply), "부 가 세", won(sign * split.vat));
    } else {
        w.text("(부가세 포함)");
        w.newline();
    }
}

void paid_section(DocumentWriter& w, ReceiptRecord const& r, long long sign)
{
    w.section("paid");
    w.rule('-');
    w.big_line(r.cancel_mode ? "환불 처리" : "받은금액", won(sign * r.paid));
    if (!r.paymethod.empty())
        w.left_right("01." + pay_method_name(r.paymethod), won(sign * r.paid));
}

void card_section(DocumentWriter& w, ReceiptRecord const& r)
{
    bool cancel = r.cancel_mode;
    bool narrow = w.columns() < 40;
    size_t count = r.cards.size();
    for (size_t i = 0; i < count; ++i) {
        CardPayment const& card = r.cards[i];
        w.section("card");
        w.rule('=');
        char title[96];
        char const* name = cancel ? "신용카드 매출취소 전표" : "신용카드 매출전표";
        if (count > 1)
            std::snprintf(title, sizeof title, "**** %s %zu/%zu ****", name, i + 1, count);
        else
            std::snprintf(title, sizeof title, "**** %s ****", name);
        w.centered_line(title);
        w.rule('-');
        if (!card.issuer.empty())
            w.label_value("카드사", card.issuer);
        if (!card.number.empty()) {
            long long months = installment_months(card.installment);
            std::string installment = months >= 2 ? std::to_string(months) + "개월" : "일시불";
            if (narrow) {
                w.label_value("카드번호", card.number);
                w.label_value("할부", installment);
            } else {
                w.label_value("카드번호", card.number + " (" + installment + ")");
            }
        }
        long long amount = cancel && card.cancel_amount > 0 ? card.cancel_amount : card.amount;
        char const* amount_label = cancel ? "취소금액" : "승인금액";
        if (narrow) {
            w.label_value(cancel ? "원승인" : "승인번호", card.approval);
            w.left_right(amount_label, won(amount));
        } else {
            w.two_pairs(cancel ? "원승인번호" : "승인번호", card.approval, amount_label, won(amount));
        }
        if (cancel) {
            if (!card.cancel_ref.empty())
                w.label_value("취소승인", card.cancel_ref);
            if (!card.sale_time.empty())
                w.label_value("원거래일시", card.sale_time);
        }
        if (r.vat) {
            VatSplit split = vat_split(card.amount);
            w.two_pairs("공급가액", won(split.supply), "부 가 세", won(split.vat));
        }
        if (!r.tid.empty())
            w.label_value("가맹점", r.tid);
    }
    if (cancel && count == 0 && !r.paymethod.empty() && !is_cash(r.paymethod)) {
        w.rule('-');
        w.left_right("카드 결제 취소", won(-r.paid));
    }
}

} // namespace

std::optional<std::string> business_number_text(std::string_view stored)
{
    std::string d = digits_of(stored);
    if (d.size() != 10)
        return std::nullopt;
    static constexpr int weights[9] = { 1, 3, 7, 1, 3, 7, 1, 3, 5 };
    int sum = 0;
    for (int i = 0; i < 9; ++i)
        sum += (d[i] - '0') * weights[i];
    sum += ((d[8] - '0') * 5) / 10;
    int check = (10 - sum % 10) % 10;
    if (check != d[9] - '0')
        return std::nullopt;
    return grouped(d, { 3, 2, 5 });
}

std::string telephone_text(std::string_view stored)
{
    std::string d = digits_of(stored);
    if (d.size() == 11)
        return grouped(d, { 3, 4, 4 });
    if (d.size() == 10)
        return d.starts_with("02") ? grouped(d, { 2, 4, 4 }) : grouped(d, { 3, 3, 4 });
    if (d.size() == 9 && d.starts_with("02"))
        return grouped(d, { 2, 3, 4 });
    return std::string(stored);
}

VatSplit vat_split(long long paid)
{
    VatSplit split;
    split.supply = (paid * 10 + 5) / 11;
    split.vat = paid - split.supply;
    return split;
}

std::string unit_price_text(MenuLine const& line)
{
    if (line.qty >= 1)
        return won((line.amount + line.qty / 2) / line.qty);
    return line.price > 0 ? won(line.price) : std::string {};
}

std::string pay_method_name(std::string_view paymethod)
{
    if (paymethod == "CARD")
        return "신용카드";
    if (paymethod == "CASH")
        return "현금";
    if (paymethod == "POINT")
        return "포인트";
    if (paymethod == "KJEON")
        return "케이전";
    return std::string(paymethod);
}

Result<Document> build_receipt(ReceiptRecord const& r, PrinterRecord const& printer, WithView with_view)
{
    DocumentWriter w(printer, receipt_capacity, with_view);
    long long sign = r.cancel_mode ? -1 : 1;
    w.start();
    w.section("title");
    w.align_center(true);
    w.big(true);
    w.text(r.cancel_mode ? "취소 영수증" : "영수증");
    w.newline();
    w.big(false);
    if (r.cancel_mode) {
        if (!r.cards.empty())
            w.text("(신용카드 매출취소 전표)");
        else if (is_cash(r.paymethod))
            w.text("(현금 환불)");
        else
            w.text("(결제 취소)");
        w.newline();
    }
    if (r.reissue) {
        w.text("(재발행 " + r.reissue_time + ")");
        w.newline();
    }
    w.align_center(false);
    w.newline();
    store_section(w, r);
    order_section(w, r);
    items_section(w, r, sign);
    sum_section(w, r, sign);
    tax_section(w, r, sign);
    paid_section(w, r, sign);
    card_section(w, r);
    if (!r.request.empty()) {
        w.section("memo");
        w.rule('-');
        w.text("요청사항");
        w.newline();
        w.text(r.request);
        w.newline();
    }
    w.section("foot");
    w.rule('-');
    w.newline();
    w.centered_line(r.cancel_mode ? "취소 처리되었습니다" : "감사합니다");
    w.newline();
    w.newline();
    w.newline();
    w.cut();
    return w.finish(r.cancel_mode ? "취소 영수증" : "영수증");
}

} // namespace tillbay::printing
