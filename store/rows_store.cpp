// The `store` family: opening state and hours, staff, reviews, the store
// password, business settings, notices, shop and seller details,
// promotions, mall orders and claims.

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "session/session.h"
#include "store/request_text.h"
#include "store/rows.h"

namespace tillbay::store {

namespace {

// The store (POS) password: the owner's password proves who asks; the new
// one must be something the staff can type at the counter.
Result<SecretString> build_store_password(RowRun& run)
{
    std::string_view owner_password = run.arg(1);
    std::string_view fresh = run.arg(2);
    if (owner_password.empty())
        return Error::with_message("사장님 비밀번호를 입력하세요");
    if (fresh.size() < 4 || fresh.size() > 20)
        return Error::with_message("새 비밀번호는 4~20자");
    for (char c : fresh) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 33 || byte > 126 || std::string_view("&=<>%+\"'\\").find(c) != std::string_view::npos)
            return Error::with_message("새 비밀번호는 영문·숫자·기호만 (띄어쓰기와 & = < > % + 따옴표는 안 됩니다)");
    }
    if (owner_password.find_first_of("&=") != std::string_view::npos)
        return Error::with_message("사장님 비밀번호에 & 나 = 가 있으면 여기서는 보낼 수 없습니다");
    return run.fill("cmd=7&storeidx={s}&oldpassword={1}&newpassword={2}");
}

// applybizval / setbenefit: setting 5 is the benefit, every other number an
// ordinary business setting. The value comes percent-encoded from the page.
Result<SecretString> build_biz_value(RowRun& run)
{
    if (!is_digits(run.arg(1), 9))
        return Error::with_message(text_bad_number);
    int mode = ascii::leading_int(run.arg(1));
    std::string pattern = std::string("cmd=8&type=") + (mode == 5 ? "setbenefit" : "set") + "&storeidx={s}&mode=" + std::to_string(mode)
        + "&value={~2}";
    return run.fill(pattern);
}

void answer_biz_value(RowRun& run, bool ok)
{
    int mode = is_digits(run.arg(1), 9) ? ascii::leading_int(run.arg(1)) : 0;
    run.callback("setBizApplyResult", "{\"mode\":" + std::to_string(mode) + ",\"ok\":" + (ok ? "true" : "false") + "}");
}

void finish_biz_value(RowRun& run, Outcome const& outcome)
{
    run.answer(outcome);
    answer_biz_value(run, outcome.accepted());
}

void fail_biz_value(RowRun& run, std::string_view message, bool)
{
    run.status(message);
    answer_biz_value(run, false);
}

constexpr char biz_reload[] = "cmd=76&storeidx={s}";
constexpr char promo_reload[] = "cmd=40&storeidx={s}";

// Rows whose answer is the server's own message.
constexpr Row server_message(std::string_view name, size_t min_args, std::string_view request, bool owner_only = false,
    size_t limit = short_limit)
{
    return { .name = name, .slot = Slot::Store, .min_args = min_args, .owner_only = owner_only, .request = request, .limit = limit,
        .ok_text = "저장했습니다", .fail_text = "저장하지 못했습니다", .shows = Shows::ServerMessage };
}

constexpr Row rows[] = {
    { .name = "setopenstatus", .slot = Slot::Store, .min_args = 1, .request = "cmd=73&storeidx={s}&openstatus={1}",
        .on_ok = "applyOpenStatus", .fail_text = "영업상태를 바꾸지 못했습니다" },
    { .name = "bizsetting_loaded", .slot = Slot::Store, .request = biz_reload, .on_ok = "setBizSetting" },
    { .name = "savebizhours", .slot = Slot::Store, .min_args = 4, .owner_only = true,
        .request = "cmd=77&storeidx={s}&opentime={1}&closetime={2}&breakstart={3}&breakend={4}&holidays={5}",
        .ok_text = "영업시간을 저장했습니다", .fail_text = "영업시간을 저장하지 못했습니다", .reload = biz_reload, .reload_cb = "setBizSetting" },
    server_message("addstaff", 4, "cmd=78&storeidx={s}&name={1}&loginid={2}&passwd={3}&role={4}", true),
    server_message("updatestaff", 3, "cmd=79&storeidx={s}&staffidx={1}&mode={2}&value={*3}", true),
    { .name = "review_loaded", .slot = Slot::Store, .request = "cmd=74&storeidx={s}&type=store", .on_ok = "setReviewData" },
    { .name = "productreview_loaded", .slot = Slot::Store, .request = "cmd=74&storeidx={s}&type=product", .on_ok = "setReviewData" },
    { .name = "reviewreply", .slot = Slot::Store, .min_args = 2, .owner_only = true, .request = "cmd=75&storeidx={s}&reviewidx={1}&reply={*2}",
        .limit = reply_limit, .ok_text = "답글을 남겼습니다", .fail_text = "답글을 남기지 못했습니다", .then_call = "reloadCurrentReviews" },
    { .name = "modypassword", .slot = Slot::Store, .min_args = 2, .owner_only = true, .build = build_store_password,
        .ok_text = "매장(POS) 비밀번호를 바꿨습니다", .fail_text = "비밀번호를 바꾸지 못했습니다" },
    { .name = "applybizval", .slot = Slot::Store, .min_args = 2, .owner_only = true, .build = build_biz_value, .limit = value_limit,
        .ok_text = "적용하였습니다", .fail_text = "적용하지 못했습니다", .finish = finish_biz_value, .fail_shape = fail_biz_value },
    { .name = "setbenefit", .slot = Slot::Store, .min_args = 2, .owner_only = true, .build = build_biz_value, .limit = value_limit,
        .ok_text = "적용하였습니다", .fail_text = "적용하지 못했습니다", .finish = finish_biz_value, .fail_shape = fail_biz_value },
    { .name = "getcompanyproducts", .slot = Slot::Store, .request = "cmd=45", .on_ok = "setCompanyProducts" },
    { .name = "messageopen", .slot = Slot::Store, .request = "cmd=56", .on_ok = "setMessageList" },
    { .name = "messagenext", .slot = Slot::Store, .min_args = 1, .request = "cmd=57&lastidx={1}", .on_ok = "appendMessageList",
        .on_fail = "failMessageNext" },
    { .name = "messageview", .slot = Slot::Store, .min_args = 1, .request = "cmd=58&msgidx={1}", .on_ok = "SetMessageView" },
    server_message("modifyshopname", 1, "cmd=2&storeidx={s}&shopname={*1}"),
    server_message("modifytel", 1, "cmd=3&storeidx={s}&tel={1}"),
    server_message("modifyprname", 1, "cmd=4&storeidx={s}&name={*1}"),
    server_message("modifybank", 3, "cmd=5&storeidx={s}&bankname={1}&bankuser={2}&banknumber={3}"),
    server_message("modifysmscomment", 1, "cmd=51&storeidx={s}&value={*1}", false, value_limit),
    server_message("modifydeliveryfee", 1, "cmd=52&storeidx={s}&value={1}", false, value_limit),
    server_message("modifydeliveryfree", 1, "cmd=53&storeidx={s}&value={1}", false, value_limit),
    { .name = "sellerinfo_loaded", .slot = Slot::Store, .request = "cmd=86&storeidx={s}", .on_ok = "setSellerInfo" },
    { .name = "savesellerinfo", .slot = Slot::Store, .min_args = 7,
        .request = "cmd=87&storeidx={s}&ceoname={1}&bizno={2}&mailorderno={3}&sellerphone={4}&returnaddr={5}&deliverydays={6}&returnfeeinfo={*7}",
        .ok_text = "판매자 정보를 저장했습니다", .fail_text = "저장하지 못했습니다" },
    { .name = "savepromo", .slot = Slot::Store, .min_args = 6,
        .request = "cmd=41&storeidx={s}&promoidx={1}&title={2}&dcrate={3}&startdate={4}&enddate={5}&isactive={6}",
        .ok_text = "프로모션을 저장했습니다", .reload = promo_reload, .reload_cb = "setPromotions" },
    { .name = "delpromo", .slot = Slot::Store, .min_args = 1, .request = "cmd=42&storeidx={s}&promoidx={1}", .ok_text = "프로모션을 지웠습니다",
        .reload = promo_reload, .reload_cb = "setPromotions" },
    { .name = "getbuydelivery", .slot = Slot::Store, .min_args = 1, .request = "cmd=60&storeidx={s}&status={1}", .on_ok = "setBuyDeliveryList" },
    server_message("changebuystatus", 2, "cmd=61&storeidx={s}&buyidx={1}&status={2}"),
    server_message("savedelivery", 4, "cmd=65&storeidx={s}&buyidx={1}&courier={2}&invoiceno={3}&couriercode={4}&memo={*5}"),
    { .name = "cancelbuy", .slot = Slot::Store, .min_args = 1, .request = "cmd=63&storeidx={s}&buyidx={1}", .ok_text = "취소했습니다",
        .fail_text = "취소하지 못했습니다", .then_call = "setCancelLoading", .then_args = "0", .reload = "cmd=62&storeidx={s}",
        .reload_cb = "setBuyCancelList" },
    { .name = "claimprocess", .slot = Slot::Store, .min_args = 2, .request = "cmd=85&storeidx={s}&claimidx={1}&action={2}&rejectreason={*3}",
        .fail_text = "처리하지 못했습니다", .reload = "cmd=84&storeidx={s}", .reload_cb = "setClaimList" },
};

} // namespace

std::span<Row const> store_rows() { return rows; }

} // namespace tillbay::store
