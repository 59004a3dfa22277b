#include "store/command_rows.h"

#include "foundation/json_text.h"
#include "session/session.h"
#include "store/request_text.h"

namespace tillbay::store {

namespace {

// The longest server text shown as it is in the status line.
constexpr size_t max_reason = 200;

} // namespace

Calls Calls::standard()
{
    Calls calls;
    calls.owner = [](std::string_view command) { return api::owner_call(command); };
    calls.staff = [](std::string_view command) { return api::store_call(command); };
    return calls;
}

void EditState::set(std::string menuidx, std::string category)
{
    std::lock_guard guard(m_lock);
    m_menuidx = std::move(menuidx);
    m_category = std::move(category);
}

std::pair<std::string, std::string> EditState::get() const
{
    std::lock_guard guard(m_lock);
    return { m_menuidx, m_category };
}

bool readable_reason(std::string_view text)
{
    return !text.empty() && text.size() <= max_reason && text.front() != '{' && text.front() != '[';
}

RowRun::RowRun(Row const& row, bridge::Command const& command, bridge::Page& page, Context& context)
    : m_row(row)
    , m_command(command)
    , m_page(page)
    , m_context(context)
{
}

int RowRun::storeidx() const { return session::storeidx(); }

Result<SecretString> RowRun::fill(std::string_view pattern) const { return fill_request(pattern, m_command, storeidx()); }

void RowRun::execute()
{
    if (m_command.arg_count() < m_row.min_args) {
        fail(text_missing);
    } else if (m_row.path == Path::Owner && (m_row.owner_only || !m_row.on_ok.empty()) && !session::owner_signed_in()) {
        // Reads answer like the owner request of the API: the sign-in text
        // and the failure function, nothing sent.
        fail(m_row.owner_text);
    } else if (m_row.path == Path::Staff && !session::staff_signed_in()) {
        fail(text_pos_needed);
    } else if (m_row.custom) {
        m_row.custom(*this);
    } else {
        auto request = m_row.build ? m_row.build(*this) : fill(m_row.request);
        if (!request.ok()) {
            fail(request.error().message);
        } else {
            Outcome outcome = send(request.value().str());
            if (m_row.finish)
                m_row.finish(*this, outcome);
            else
                answer(outcome);
        }
    }
    if (!m_row.then_call.empty())
        callback(m_row.then_call, m_row.then_args);
}

Outcome RowRun::send(std::string_view request, size_t limit)
{
    Outcome outcome;
    // The buffer of the request holds its terminator too.
    if (request.size() >= limit) {
        outcome.reason = text_too_long;
        return outcome;
    }
    if (m_row.path == Path::Staff) {
        auto answer = m_context.calls.staff(request);
        if (!answer.ok()) {
            outcome.kind = Outcome::Kind::NoAnswer;
            outcome.reason = answer.error().message.empty() ? text_no_answer : answer.error().message;
            return outcome;
        }
        api::StoreResult& result = answer.value();
        outcome.code = result.resultCode;
        outcome.payload.str() = std::move(result.resultData);
        outcome.kind = result.accepted() ? Outcome::Kind::Accepted : Outcome::Kind::Refused;
        outcome.reason = result.message;
        return outcome;
    }
    auto answer = m_context.calls.owner(request);
    if (!answer.ok()) {
        outcome.kind = Outcome::Kind::NoAnswer;
        outcome.reason = answer.error().message.empty() ? text_no_answer : answer.error().message;
        return outcome;
    }
    api::OwnerResult const& result = answer.value();
    outcome.code = result.resultCode;
    if (result.payload)
        outcome.payload = *result.payload;
    if (result.accepted()) {
        outcome.kind = Outcome::Kind::Accepted;
    } else {
        outcome.kind = Outcome::Kind::Refused;
        if (readable_reason(outcome.payload.str()))
            outcome.reason = outcome.payload.str();
    }
    return outcome;
}

std::string RowRun::failure_text(Outcome const& outcome, std::string_view own_text) const
{
    // A request that was not sent says why itself.
    if (outcome.kind == Outcome::Kind::NotSent)
        return outcome.reason;
    std::string own(own_text);
    if (outcome.kind == Outcome::Kind::Refused && !m_row.refused_text.empty() && own_text == m_row.fail_text)
        own = m_row.refused_text;
    // A refusal is never shown as the server's bare reason, nor as success.
    if (outcome.kind == Outcome::Kind::Refused && own.empty())
        own = text_refused;
    std::string reason = outcome.reason;
    if (own.empty())
        return reason.empty() ? std::string(text_no_answer) : reason;
    if (reason.empty() || reason == own)
        return own;
    return own + " — " + reason;
}

void RowRun::fail(std::string_view message, bool net)
{
    if (m_row.fail_shape) {
        m_row.fail_shape(*this, message, net);
        return;
    }
    status(message);
    if (!m_row.on_fail.empty())
        callback(m_row.on_fail, m_row.fail_args);
}

void RowRun::answer(Outcome const& outcome)
{
    if (!m_row.on_ok.empty()) {
        if (outcome.accepted())
            callback(m_row.on_ok, json::quote(outcome.payload.str()));
        else
            fail(failure_text(outcome, m_row.fail_text), outcome.kind == Outcome::Kind::NoAnswer);
    } else if (outcome.accepted()) {
        std::string text(m_row.ok_text);
        if (m_row.shows == Shows::ServerMessage) {
            std::string message;
            if (json::text_field(outcome.payload.str(), "msg", message, 256) && !message.empty())
                text = message;
        }
        if (!text.empty())
            status(text);
    } else {
        fail(failure_text(outcome, m_row.fail_text), outcome.kind == Outcome::Kind::NoAnswer);
    }
    if (outcome.answered() && !m_row.reload.empty())
        read_into(m_row.reload, m_row.reload_cb);
}

bool RowRun::read_into(std::string_view pattern, std::string_view function, std::string_view failure_function)
{
    auto request = fill(pattern);
    Outcome outcome;
    if (!request.ok())
        outcome.reason = request.error().message;
    else if (m_row.path == Path::Owner && !session::owner_signed_in())
        outcome.reason = text_owner_needed;
    else
        outcome = send(request.value().str(), built_limit);
    if (outcome.accepted()) {
        callback(function, json::quote(outcome.payload.str()));
        return true;
    }
    status(failure_text(outcome, {}));
    if (!failure_function.empty())
        callback(failure_function, "");
    return false;
}

} // namespace tillbay::store
