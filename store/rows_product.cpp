// The `product` family and the product and question commands of `pc`:
// shop products and their variants and photos, menus with their option
// groups, the AI order instruction, the mall categories, questions.

#include "store/request_text.h"
#include "store/rows.h"

namespace tillbay::store {

namespace {

// getproductlist: each argument the page gave adds its part.
Result<SecretString> build_product_list(RowRun& run)
{
    std::string pattern = "cmd=21&storeidx={s}";
    if (is_digits(run.arg(1), 6))
        pattern += "&offset={1}";
    if (is_digits(run.arg(2), 4))
        pattern += "&limit={2}";
    if (!run.arg(3).empty() && run.arg(3) != "0")
        pattern += "&order=new";
    if (!run.arg(4).empty() && run.arg(4) != "0")
        pattern += "&withcat=1";
    return run.fill(pattern);
}

Result<SecretString> build_question_list(RowRun& run)
{
    return run.fill(run.arg(1) == "1" ? "cmd=88&storeidx={s}&unanswered=1" : "cmd=88&storeidx={s}");
}

void answer_question(RowRun& run, bool ok)
{
    run.callback("onQnaAnswered", ok ? std::string(run.arg(1)) : "0");
}

void finish_question(RowRun& run, Outcome const& outcome)
{
    run.answer(outcome);
    answer_question(run, outcome.accepted());
}

void fail_question(RowRun& run, std::string_view message, bool)
{
    run.status(message);
    answer_question(run, false);
}

// A menu change of one field: cmd, menu, value.
constexpr Row menu_field(std::string_view name, std::string_view request)
{
    return { .name = name, .slot = Slot::Product, .min_args = 2, .request = request, .refused_text = "저장이 거절되었습니다" };
}

// A product change of one field from the product editor (family pc).
constexpr Row product_field(std::string_view name)
{
    return { .name = name, .slot = Slot::Pc, .min_args = 3, .limit = built_limit, .fail_shape = fail_set_product_field,
        .custom = run_set_product_field };
}

// An option group or item change; the failing step is named in the text.
constexpr Row option_step(std::string_view name, size_t min_args, std::string_view request, std::string_view failed)
{
    return { .name = name, .slot = Slot::Product, .min_args = min_args, .request = request, .fail_text = failed };
}

constexpr Row rows[] = {
    { .name = "saveaisetting", .slot = Slot::Product, .min_args = 1, .owner_only = true, .request = "cmd=71&storeidx={s}&value={%1}",
        .limit = value_limit, .ok_text = "AI 주문 지시를 저장했습니다", .fail_text = "저장하지 못했습니다" },
    { .name = "mallcategorylist", .slot = Slot::Product, .request = "cmd=38", .on_ok = "setMallCategoryList" },
    { .name = "addproduct", .slot = Slot::Product, .min_args = 6, .on_fail = "addProductFail", .custom = run_add_product },
    { .name = "addproductx", .slot = Slot::Product, .min_args = 3, .limit = built_limit, .fail_shape = fail_add_product_fields,
        .custom = run_add_product_fields },
    { .name = "variantlist", .slot = Slot::Product, .min_args = 1, .request = "cmd=67&storeidx={s}&productidx={1}", .on_ok = "setVariantList" },
    { .name = "variantsave", .slot = Slot::Product, .min_args = 5,
        .request = "cmd=68&storeidx={s}&productidx={1}&gname={2}&vname={3}&addprice={4}&stock={5}", .ok_text = "옵션을 저장했습니다",
        .fail_text = "옵션을 저장하지 못했습니다" },
    { .name = "variantdel", .slot = Slot::Product, .min_args = 2, .request = "cmd=69&storeidx={s}&productidx={1}&variantidx={2}",
        .ok_text = "옵션을 지웠습니다", .fail_text = "옵션을 지우지 못했습니다" },
    { .name = "productphotolist", .slot = Slot::Product, .min_args = 1, .request = "cmd=80&storeidx={s}&productidx={1}",
        .on_ok = "setProductPhotos" },
    { .name = "delproductphoto", .slot = Slot::Product, .min_args = 2, .request = "cmd=82&storeidx={s}&productidx={1}&photoidx={2}",
        .fail_text = "사진을 지우지 못했습니다" },
    { .name = "deleteproduct", .slot = Slot::Product, .min_args = 1, .request = "cmd=83&storeidx={s}&productidx={1}",
        .ok_text = "상품을 삭제했습니다" },

    { .name = "getproductlist", .slot = Slot::Pc, .build = build_product_list, .on_ok = "setProductListData" },
    { .name = "getproductdetail", .slot = Slot::Pc, .min_args = 1, .request = "cmd=22&storeidx={s}&productidx={1}", .on_ok = "setProductDetail" },
    { .name = "productsel", .slot = Slot::Pc, .min_args = 1, .request = "cmd=22&storeidx={s}&productidx={1}", .on_ok = "setProductDetail" },
    product_field("modifyproductname"),
    product_field("modifyproductprice"),
    product_field("modifyproductsaleprice"),
    product_field("modifyproductstock"),
    product_field("modifyproductcomment"),
    product_field("modifyproductuseyn"),
    product_field("modifyproductsoldout"),
    product_field("modifyproductdeliveryyn"),
    product_field("modifyproductpickupyn"),
    { .name = "saveproductmall", .slot = Slot::Pc, .min_args = 3,
        .request = "cmd=39&storeidx={s}&productidx={1}&mallyn={2}&mallcategory={3}", .on_ok = "onMallSaved",
        .fail_text = "몰 설정을 저장하지 못했습니다" },
    { .name = "setshopcat", .slot = Slot::Pc, .min_args = 3, .limit = built_limit, .fail_shape = fail_shop_category,
        .custom = run_shop_category, .owner_text = "가맹점 로그인이 필요해요" },
    { .name = "getqnalist", .slot = Slot::Pc, .build = build_question_list, .on_ok = "setQnaList" },
    { .name = "answerqna", .slot = Slot::Pc, .min_args = 2, .request = "cmd=89&storeidx={s}&qnaidx={#1}&answer={*2}", .limit = built_limit,
        .ok_text = "답변을 등록했습니다", .fail_text = "답변을 등록하지 못했습니다", .finish = finish_question, .fail_shape = fail_question },

    { .name = "addmenu", .slot = Slot::Product, .min_args = 5, .on_fail = "addMenuFail", .custom = run_add_menu },
    { .name = "delmenu", .slot = Slot::Product, .min_args = 1, .request = "cmd=102&storeidx={s}&menuidx={1}", .ok_text = "메뉴를 지웠습니다.",
        .then_call = "__pfPanelDone", .then_args = "'del'" },
    { .name = "menupanel", .slot = Slot::Product, .min_args = 1, .custom = run_menu_panel },
    menu_field("modifymenuname", "cmd=12&storeidx={s}&menuidx={1}&value={*2}"),
    menu_field("modifymenuprice", "cmd=13&storeidx={s}&menuidx={1}&value={2}"),
    menu_field("modifymenucomment", "cmd=14&storeidx={s}&menuidx={1}&value={*2}"),
    menu_field("modifymenuuseyn", "cmd=15&storeidx={s}&menuidx={1}&value={2}"),
    menu_field("modifymenusoldout", "cmd=16&storeidx={s}&menuidx={1}&value={2}"),
    menu_field("modifymenudcrate", "cmd=43&storeidx={s}&menuidx={1}&value={2}"),
    { .name = "getmenuopts", .slot = Slot::Product, .min_args = 1, .custom = run_get_menu_options },
    { .name = "addmenuopts", .slot = Slot::Product, .min_args = 2, .limit = built_limit, .custom = run_add_menu_options },
    option_step("delmenuoptgroup", 1, "cmd=95&storeidx={s}&groupidx={1}", "옵션그룹 삭제 실패"),
    option_step("delmenuoptitem", 1, "cmd=99&storeidx={s}&itemidx={1}", "옵션항목 삭제 실패"),
    option_step("setoptsoldout", 2, "cmd=101&storeidx={s}&itemidx={1}&soldout={2}", "옵션 품절 처리 실패"),
    option_step("editoptgroup", 5, "cmd=94&storeidx={s}&groupidx={1}&gname={2}&requiredyn={3}&multiselectyn={4}&useyn={5}", "옵션그룹 수정 실패"),
    option_step("editoptitem", 5, "cmd=98&storeidx={s}&itemidx={1}&iname={2}&addprice={3}&soldout={4}&useyn={5}", "옵션항목 수정 실패"),
};

} // namespace

std::span<Row const> product_rows() { return rows; }

} // namespace tillbay::store
