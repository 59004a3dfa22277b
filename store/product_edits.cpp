// Products made and changed from the product pages: a product with its
// variants, a product from the editor's fields, one field of a product, and
// the shop categories of many products at once.

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "session/session.h"
#include "store/request_text.h"
#include "store/rows.h"

#include <algorithm>
#include <cstdio>

namespace tillbay::store {

namespace {

constexpr char const* text_bad_input = "입력값이 올바르지 않습니다";
// The most products one shop-category change may name.
constexpr size_t max_shop_products = 500;
constexpr size_t max_shop_category = 60;

std::string product_number(std::string_view payload)
{
    int idx = json::int_field(payload, "productidx", 0);
    if (idx <= 0)
        idx = json::int_field(payload, "idx", 0);
    return idx > 0 ? std::to_string(idx) : std::string();
}

// The numbered field commands of the product editor and the fields that
// only take a flag.
struct ProductField {
    std::string_view name;
    int cmd;
    bool number;
    bool flag;
};
constexpr ProductField product_fields[] = {
    { "modifyproductname", 23, false, false },
    { "modifyproductprice", 24, true, false },
    { "modifyproductsaleprice", 25, true, false },
    { "modifyproductstock", 26, true, false },
    { "modifyproductcomment", 27, false, false },
    { "modifyproductuseyn", 28, false, true },
    { "modifyproductsoldout", 29, false, true },
    { "modifyproductdeliveryyn", 30, false, true },
    { "modifyproductpickupyn", 31, false, true },
};

std::string set_result(std::string_view key, bool ok, std::string_view message, bool net)
{
    return "{\"key\":" + json::quote(key) + ",\"ok\":" + (ok ? "true" : "false") + ",\"msg\":" + json::quote(message)
        + ",\"net\":" + (net ? "true" : "false") + "}";
}

} // namespace

void run_add_product(RowRun& run)
{
    auto request = run.fill("cmd=19&storeidx={s}&pname={1}&price={2}&saleprice={3}&stock={4}&comment={5}&photopath={6}");
    if (!request.ok()) {
        run.fail(request.error().message);
        return;
    }
    Outcome made = run.send(request.value().str());
    std::string productidx = made.accepted() ? product_number(made.payload.str()) : std::string();
    if (productidx.empty()) {
        run.fail(made.accepted() ? "상품을 등록하지 못했습니다 — 서버가 상품 번호를 주지 않았습니다"
                                 : run.failure_text(made, "상품을 등록하지 못했습니다"));
        return;
    }
    // Then the variants, three fields each: group, name, added price. A
    // variant starts with the product's stock.
    bool all = true;
    auto const& fields = run.command().fields;
    for (size_t f = 7; f + 2 < fields.size(); f += 3) {
        auto gname = pair("gname", fields[f]);
        auto vname = pair("vname", fields[f + 1]);
        if (!gname.ok() || !vname.ok() || !is_digits(fields[f + 2], 9)) {
            all = false;
            continue;
        }
        Outcome saved = run.send("cmd=68&storeidx=" + std::to_string(run.storeidx()) + "&productidx=" + productidx + gname.value()
            + vname.value() + "&addprice=" + fields[f + 2] + "&stock=" + std::string(is_digits(run.arg(4)) ? run.arg(4) : "0"));
        all = all && saved.accepted();
    }
    run.status(all ? "상품을 등록했습니다" : "상품은 등록됐는데 옵션 일부를 저장하지 못했습니다");
}

void fail_add_product_fields(RowRun& run, std::string_view message, bool net)
{
    run.status(message);
    run.callback("setProductAddResult",
        "{\"key\":" + json::quote(run.arg(1)) + ",\"ok\":false,\"idx\":0,\"applied\":0,\"msg\":" + json::quote(message)
            + ",\"net\":" + (net ? "true" : "false") + "}");
}

void run_add_product_fields(RowRun& run)
{
    // key, name, price, sale price, stock, comment, photo path.
    static constexpr std::string_view names[] = { "pname", "price", "saleprice", "stock", "comment", "photopath" };
    if (run.arg(2).empty() || !is_digits(run.arg(3), 9) || (!run.arg(4).empty() && !is_digits(run.arg(4), 9))
        || (!run.arg(5).empty() && !is_digits(run.arg(5), 9))) {
        run.fail(text_bad_input);
        return;
    }
    SecretString request("cmd=19&storeidx=" + std::to_string(run.storeidx()));
    int applied = 0;
    for (size_t i = 0; i < std::size(names); ++i) {
        std::string_view value = run.arg(i + 2);
        auto part = pair(names[i], value);
        if (!part.ok()) {
            run.fail(part.error().message);
            return;
        }
        request.append(part.value());
        applied += value.empty() ? 0 : 1;
    }
    Outcome made = run.send(request.str());
    std::string productidx = made.accepted() ? product_number(made.payload.str()) : std::string();
    if (productidx.empty()) {
        run.fail(made.accepted() ? std::string("상품을 등록하지 못했습니다") : run.failure_text(made, "상품을 등록하지 못했습니다"),
            made.kind == Outcome::Kind::NoAnswer);
        return;
    }
    run.status("상품을 등록했습니다");
    run.callback("setProductAddResult",
        "{\"key\":" + json::quote(run.arg(1)) + ",\"ok\":true,\"idx\":" + productidx + ",\"applied\":" + std::to_string(applied)
            + ",\"msg\":" + json::quote("상품을 등록했습니다") + ",\"net\":false}");
}

void fail_set_product_field(RowRun& run, std::string_view message, bool net)
{
    run.status(message);
    run.callback("setProductSetResult", set_result(run.arg(1), false, message, net));
}

void run_set_product_field(RowRun& run)
{
    auto field = std::find_if(std::begin(product_fields), std::end(product_fields),
        [&](ProductField const& f) { return f.name == run.command().name(); });
    if (!session::owner_signed_in()) {
        run.fail(text_owner_needed);
        return;
    }
    std::string_view value = run.arg(3);
    if (!is_digits(run.arg(2)) || (field->number && !is_digits(value, 9))) {
        run.fail(text_bad_input);
        return;
    }
    // A flag that is not a number is sent as "0".
    std::string flag = field->flag && !is_digits(value) ? "0" : std::string(value);
    std::string text;
    for (size_t f = 3; f < run.command().fields.size(); ++f)
        text += (f > 3 ? "</>" : "") + run.command().fields[f];
    auto part = pair("value", field->flag ? std::string_view(flag) : std::string_view(text));
    if (!part.ok()) {
        run.fail(part.error().message);
        return;
    }
    Outcome outcome = run.send("cmd=" + std::to_string(field->cmd) + "&storeidx=" + std::to_string(run.storeidx()) + "&productidx="
        + std::string(run.arg(2)) + part.value());
    if (!outcome.accepted()) {
        run.fail(run.failure_text(outcome, "수정하지 못했습니다"), outcome.kind == Outcome::Kind::NoAnswer);
        return;
    }
    run.status("수정했습니다");
    run.callback("setProductSetResult", set_result(run.arg(1), true, "수정했습니다", false));
}

void fail_shop_category(RowRun& run, std::string_view message, bool)
{
    run.status(message);
    run.callback("onShopCatSaved", "{\"ok\":false,\"msg\":" + json::quote(message) + "}");
}

void run_shop_category(RowRun& run)
{
    if (!session::owner_signed_in()) {
        run.fail(run.row().owner_text);
        return;
    }
    std::string_view mode = run.arg(1);
    if ((mode != "set" && mode != "rename") || run.command().arg_count() != 3) {
        run.fail("요청 모양이 달라요");
        return;
    }
    auto name_ok = [](std::string_view name, bool may_be_empty) {
        if (name.size() > max_shop_category || (name.empty() && !may_be_empty))
            return false;
        return encode_value(name, ValueEncoding::Safe).ok() && name.find("<#>") == std::string_view::npos;
    };
    std::string request = "cmd=48&storeidx=" + std::to_string(run.storeidx());
    if (mode == "set") {
        std::string_view idxs = run.arg(2);
        size_t count = idxs.empty() ? 0 : static_cast<size_t>(std::count(idxs.begin(), idxs.end(), ',')) + 1;
        if (count == 0 || count > max_shop_products) {
            run.fail("상품 번호가 비었거나 너무 많아요");
            return;
        }
        if (idxs.find_first_not_of("0123456789,") != std::string_view::npos) {
            run.fail("상품 번호는 숫자와 쉼표만 쓸 수 있어요");
            return;
        }
        if (!name_ok(run.arg(3), true)) {
            run.fail("분류 이름에 쓸 수 없는 글자가 있거나 너무 길어요");
            return;
        }
        request += "&act=set&idxs=" + std::string(idxs) + pair("shopcat", run.arg(3)).value();
    } else {
        if (!name_ok(run.arg(2), false) || !name_ok(run.arg(3), false)) {
            run.fail("분류 이름에 쓸 수 없는 글자가 있거나 너무 길어요");
            return;
        }
        request += "&act=rename" + pair("from", run.arg(2)).value() + pair("to", run.arg(3)).value();
    }
    Outcome outcome = run.send(request);
    if (!outcome.accepted()) {
        run.fail(outcome.kind == Outcome::Kind::NotSent ? outcome.reason : run.failure_text(outcome, "분류를 저장하지 못했어요"));
        return;
    }
    // The answer is "matched<#>changed".
    int matched = -1, changed = -1;
    char tail = 0;
    std::string answer = outcome.payload.str();
    if (std::sscanf(answer.c_str(), "%d<#>%d%c", &matched, &changed, &tail) != 2 || matched < 0 || changed < 0) {
        run.fail("서버 응답을 읽지 못했어요");
        return;
    }
    run.callback("onShopCatSaved", "{\"ok\":true,\"matched\":" + std::to_string(matched) + ",\"changed\":" + std::to_string(changed) + "}");
}

} // namespace tillbay::store
