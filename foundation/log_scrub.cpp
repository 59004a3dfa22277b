// The scrubbing rules of the bridge log (rules version 7). Bridge commands and
// page callbacks pass through the log with passwords, PINs, bank details and
// whole customer lists in them; these rules keep them off the disk while
// leaving enough of each line to follow what happened.
//
// Three tables are tried in order and the first match decides:
//  A. bridge commands: the name and its first N arguments stay, the rest
//     becomes "***";
//  B. page callbacks whose whole argument is hidden: "prefix***)";
//  C. page callbacks whose data is summarised: up to K leading numeric
//     arguments stay, the rest becomes "*** <bytes>B n=<count>)" or
//     "*** <bytes>B)".
// Every rule maps its own output to itself, so scrubbing a scrubbed log again
// changes nothing.

#include "foundation/log.h"
#include "foundation/log_internal.h"

#include <algorithm>
#include <array>

namespace tillbay::log {

namespace {

constexpr std::string_view separator = "</>";

struct CommandRule {
    std::string_view name;
    unsigned kept_arguments;
};

constexpr std::array<CommandRule, 30> command_rules { {
    { "login", 1 },
    { "merchlogin", 1 },
    { "modypassword", 0 },
    { "setstorepw", 0 },
    { "setownerpw", 0 },
    { "setpin", 0 },
    { "checkpin", 0 },
    { "setcancelpolicy", 1 },
    { "setlock", 1 },
    { "cancelorder", 1 },
    { "cancelall", 1 },
    { "addstaff", 0 },
    { "getcode", 1 },
    { "mallshipcsv", 3 },
    { "openinvoicefile", 0 },
    { "mallsavecsv", 1 },
    { "cashpay", 1 },
    { "cashpayall", 1 },
    { "modifybank", 0 },
    { "savesellerinfo", 0 },
    { "savedelivery", 2 },
    { "modifyprname", 0 },
    { "modifytel", 0 },
    { "setgpspos", 0 },
    { "claimprocess", 2 },
    { "reviewreply", 1 },
    { "answerqna", 1 },
    { "addproductx", 2 },
    { "productcsvsave", 1 },
    { "modifyproductcomment", 1 },
} };

constexpr std::array<std::string_view, 10> hidden_callbacks { {
    "window.setOwnerAuth&&setOwnerAuth(",
    "window.setTabletCfg&&setTabletCfg(",
    "window.setBuyDeliveryList&&setBuyDeliveryList(",
    "window.setMallCsvDone&&setMallCsvDone(",
    "window.setInvoiceFile&&setInvoiceFile(",
    "window.setMallSaveDone&&setMallSaveDone(",
    "window.setProductFile&&setProductFile(",
    "window.setProductCsvSaved&&setProductCsvSaved(",
    "window.setProductPhotoPick&&setProductPhotoPick(",
    "window.setProductPhotoUp&&setProductPhotoUp(",
} };

struct SummaryRule {
    std::string_view prefix;
    unsigned kept_numbers;
    std::string_view counting_key; // empty: no count
};

constexpr std::array<SummaryRule, 21> summarised_callbacks { {
    { "window.setBuyCancelList&&setBuyCancelList(", 0, "idx" },
    { "window.setSaleSummary&&setSaleSummary(", 0, "ordernum" },
    { "window.setTodaySummary&&setTodaySummary(", 0, {} },
    { "window.setSaleMore&&setSaleMore(", 0, "ordernum" },
    { "window.setBuyProductRank&&setBuyProductRank(", 0, "productidx" },
    { "window.setBuySaleSummary&&setBuySaleSummary(", 0, "buyidx" },
    { "window.setOrderList&&setOrderList(", 0, "orderidx" },
    { "window.setOrderDetail&&setOrderDetail(", 0, {} },
    { "window.setReceiptView&&setReceiptView(", 1, {} },
    { "window.setMerchState&&setMerchState(", 2, {} },
    { "window.setClaimList&&setClaimList(", 0, "idx" },
    { "window.setReviewData&&setReviewData(", 0, "idx" },
    { "window.setQnaList&&setQnaList(", 0, "idx" },
    { "window.setBizSetting&&setBizSetting(", 0, "idx" },
    { "window.setSellerInfo&&setSellerInfo(", 0, {} },
    { "window.setData&&setData(", 0, {} },
    { "window.setProductDetail&&setProductDetail(", 0, {} },
    { "window.setProductListData&&setProductListData(", 0, {} },
    { "window.setMessageList&&setMessageList(", 0, "idx" },
    { "window.appendMessageList&&appendMessageList(", 0, "idx" },
    { "window.SetMessageView&&SetMessageView(", 0, {} },
} };

// Occurrences of the key as a JSON key: '"key":' in plain JSON, '"key\":'
// when the JSON sits inside a JavaScript string literal.
size_t count_json_key(std::string_view text, std::string_view key)
{
    size_t count = 0;
    size_t from = 0;
    while (true) {
        auto quote = text.find('"', from);
        if (quote == std::string_view::npos)
            return count;
        from = quote + 1;
        auto rest = text.substr(from);
        if (!rest.starts_with(key))
            continue;
        rest.remove_prefix(key.size());
        if (rest.starts_with("\":")) {
            ++count;
            from += key.size() + 2;
        } else if (rest.starts_with("\\\":")) {
            ++count;
            from += key.size() + 3;
        }
    }
}

bool scrub_command(std::string_view message, std::string& out)
{
    auto first = message.find(separator);
    if (first == std::string_view::npos)
        return false;
    auto name = message.substr(0, first);
    auto rule = std::find_if(command_rules.begin(), command_rules.end(), [&](auto const& r) { return r.name == name; });
    if (rule == command_rules.end())
        return false;
    // The name and N arguments end at the (N+1)-th separator; with fewer
    // separators there is nothing beyond them to hide.
    size_t end = first + separator.size();
    for (unsigned i = 0; i < rule->kept_arguments; ++i) {
        auto next = message.find(separator, end);
        if (next == std::string_view::npos) {
            out.assign(message);
            return true;
        }
        end = next + separator.size();
    }
    out.assign(message.substr(0, end));
    out.append("***");
    return true;
}

bool scrub_hidden_callback(std::string_view message, std::string& out)
{
    for (auto prefix : hidden_callbacks) {
        if (message.starts_with(prefix)) {
            out.assign(prefix);
            out.append("***)");
            return true;
        }
    }
    return false;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool scrub_summarised_callback(std::string_view message, std::string& out)
{
    auto rule = std::find_if(summarised_callbacks.begin(), summarised_callbacks.end(),
        [&](auto const& r) { return message.starts_with(r.prefix); });
    if (rule == summarised_callbacks.end())
        return false;

    // Leading numeric arguments (an order number, a state code) are harmless
    // and make the line worth reading.
    size_t kept = rule->prefix.size();
    for (unsigned i = 0; i < rule->kept_numbers; ++i) {
        size_t p = kept;
        while (p < message.size() && is_digit(message[p]))
            ++p;
        if (p == kept || p >= message.size() || message[p] != ',')
            break;
        kept = p + 1;
    }
    auto rest = message.substr(kept);
    if (rest.starts_with("***")) {
        out.assign(message);
        return true;
    }
    size_t hidden = rest.size();
    if (hidden > 0 && message.back() == ')')
        --hidden;

    out.assign(message.substr(0, kept));
    out.append("*** ");
    out.append(std::to_string(hidden));
    out.append("B");
    if (!rule->counting_key.empty()) {
        out.append(" n=");
        out.append(std::to_string(count_json_key(message, rule->counting_key)));
    }
    out.append(")");
    return true;
}

} // namespace

std::string scrub(std::string_view message)
{
    std::string out;
    if (scrub_command(message, out) || scrub_hidden_callback(message, out) || scrub_summarised_callback(message, out))
        return out;
    return std::string(message);
}

namespace detail {

RescrubbedText rescrub_text(std::string_view content)
{
    RescrubbedText result;
    result.content.reserve(content.size());
    size_t start = 0;
    while (start < content.size()) {
        auto newline = content.find('\n', start);
        size_t next = newline == std::string_view::npos ? content.size() : newline + 1;
        auto line = content.substr(start, next - start);
        start = next;

        size_t body = line.size();
        while (body > 0 && (line[body - 1] == '\r' || line[body - 1] == '\n'))
            --body;
        auto text = line.substr(0, body);
        auto ending = line.substr(body);

        // "<time> <tag> <message>": the message starts after the second blank.
        auto first_blank = text.find(' ');
        auto second_blank = first_blank == std::string_view::npos ? first_blank : text.find(' ', first_blank + 1);
        if (second_blank == std::string_view::npos) {
            result.content.append(line);
            continue;
        }
        auto message = text.substr(second_blank + 1);
        auto scrubbed = scrub(message);
        if (scrubbed == message) {
            result.content.append(line);
            continue;
        }
        result.content.append(text.substr(0, second_blank + 1));
        result.content.append(scrubbed);
        result.content.append(ending);
        ++result.changed_lines;
    }
    return result;
}

} // namespace detail

} // namespace tillbay::log
