#include "printing/delivery.h"

#include "base/thread_role.h"
#include "foundation/log.h"
#include "os/printer_port.h"
#include "os/spooler.h"
#include "printing/connection_address.h"
#include "printing/local_printers.h"
#include "printing/print_queue.h"
#include "printing/utf8_text.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace tillbay::printing {

namespace {

namespace pp = os::printer_port;

std::mutex g_device_lock;
thread_local std::function<void()> t_accepted;

// The printer has the document: the notice runs once.
void accepted()
{
    if (auto notice = std::move(t_accepted)) {
        t_accepted = nullptr;
        notice();
    }
}

std::string format(char const* pattern, auto... values)
{
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

Error failure(std::string message, std::string detail = {})
{
    log::bridge("PRT", message + (detail.empty() ? std::string {} : " — " + detail));
    return Error::with_message(std::move(message), std::move(detail));
}

std::string sent_text(Health health)
{
    if (health.state == HealthState::PaperNearEnd)
        return std::string(text_sent) + " (용지가 곧 떨어집니다)";
    return text_sent;
}

// The failure text of a write that stopped early.
Error write_failure(char const* kind, pp::WriteOutcome const& outcome)
{
    return failure(format("%s 전송 실패 (%d)%s", kind, outcome.code, outcome.written > 0 ? partial_send_suffix : ""),
        std::to_string(outcome.written) + " bytes written");
}

// The same failure, not yet logged: a status question does not log.
Error quiet(std::string message, std::string detail)
{
    return Error::with_message(std::move(message), std::move(detail));
}

Error logged(Error error)
{
    log::bridge("PRT", error.message + (error.detail.empty() ? std::string {} : " — " + error.detail));
    return error;
}

Error open_failure(char const* kind, Error const& error)
{
    char const* hint = pp::is_busy_or_denied(error.code) ? "다른 프로그램 사용 중이거나 접근 권한이 없습니다"
                                                        : "장치 연결과 포트 번호를 확인하세요";
    return quiet(format("%s 열기 실패 (%d) — %s", kind, error.code, hint), error.detail);
}

// Status question, write, drain and close on an open port.
Result<std::string> deliver(pp::Port& port, char const* kind, std::string_view bytes, int write_ms, bool serial)
{
    Health health = ask_status(port, status_wait_ms);
    if (health.blocks_printing()) {
        port.finish(true);
        return failure(blocked_message(health));
    }
    // A network port's bytes reach the printer once the system has them, a
    // kill of the program notwithstanding: that is when the printer has them.
    if (!serial)
        port.set_handed_notice(accepted);
    auto outcome = port.write_last(bytes, write_ms);
    port.set_handed_notice(nullptr);
    if (!outcome.ok()) {
        port.finish(false);
        return write_failure(kind, outcome);
    }
    if (!serial)
        accepted();
    auto ended = port.end_document(close_wait_ms);
    if (!ended.ok()) {
        port.finish(false);
        return write_failure(kind, { bytes.size(), ended.error().code });
    }
    if (serial) {
        auto drained = port.drain(serial_drain_ms, serial_drain_poll_ms, serial_settle_ms);
        if (!drained.ok()) {
            port.finish(false);
            return failure(format("%s 전송 실패 (%d)%s", kind, pp::code_device_timeout, partial_send_suffix),
                drained.error().detail);
        }
        accepted();
    }
    port.finish(true);
    return sent_text(health);
}

Result<std::unique_ptr<pp::Port>> open_serial_port(ParsedAddress const& address)
{
    std::string path = pp::serial_device_path(serial_device_name(address.text));
    auto port = pp::open_serial(path);
    if (!port.ok())
        return open_failure("COM", port.error());
    pp::SerialSettings settings;
    settings.baud = address.baud;
    settings.data_bits = address.data_bits;
    settings.parity = address.parity;
    settings.stop_bits = address.stop_bits;
    settings.flow = address.flow == "rtscts" ? pp::Flow::RtsCts : address.flow == "xonxoff" ? pp::Flow::XonXoff : pp::Flow::None;
    auto configured = pp::configure_serial(*port.value(), settings);
    if (!configured.ok())
        return quiet(format("%s 전송 실패 (%d)", "COM 설정", configured.error().code), configured.error().detail);
    return port.release_value();
}

Result<std::string> send_legacy(Route const& route, std::string_view bytes)
{
    if (!route.name.empty()) {
        TRY(raw_spooler_job(route.name, bytes));
        return std::string(text_sent);
    }
    auto printers = usb_printers();
    if (printers.empty())
        return failure("영수증 프린터를 찾지 못했습니다. USB 영수증 프린터를 연결하거나 설정 → 프린터 연결에서 «고르기» 로 "
                       "프린터를 정하십시오");
    auto port = pp::open_usb(printers.front().device_path);
    if (!port.ok())
        return failure(format("USB 프린터를 열지 못했습니다 (오류 %d)", port.error().code), port.error().detail);
    Health health = ask_status(*port.value(), status_wait_ms);
    if (health.blocks_printing())
        return failure(blocked_message(health));
    auto outcome = port.value()->write_all(bytes, device_write_ms);
    if (outcome.ok())
        accepted();
    port.value()->finish(outcome.ok());
    if (!outcome.ok())
        return failure(format("USB 전송 실패 (%zu/%zu 바이트)", outcome.written, bytes.size()),
            "code " + std::to_string(outcome.code));
    return sent_text(health);
}

} // namespace

void set_accepted_notice(std::function<void()> notice) { t_accepted = std::move(notice); }

Status raw_spooler_job(std::string_view queue_name, std::string_view bytes)
{
    thread_role::expect_off_ui_thread("인쇄 큐 전송");
    if (bytes.empty())
        return failure("보낼 내용이 없습니다");
    if (queue_name.empty())
        return failure("프린터 이름이 비어 있습니다 — 설정 → 프린터 연결에서 프린터를 고르십시오 (시스템 기본 프린터로는 "
                       "보내지 않습니다)");
    size_t characters = 0;
    for (char c : queue_name)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (characters > max_queue_name_characters || !is_valid_utf8(queue_name))
        return failure("프린터 이름이 올바르지 않거나 너무 깁니다");
    auto attempt = [&]() -> std::optional<os::spooler::JobFailure> {
        return os::spooler::raw_job(queue_name, spooler_job_title, bytes);
    };
    // A stopped queue would hold the job without printing it: it is started
    // again first, and the outcome says so when that is not allowed.
    auto queue = os::spooler::find(queue_name);
    if (!queue.ok())
        return failure(format("프린터를 열 수 없습니다 (오류 %d)", queue.error().code), queue.error().detail);
    if ((queue.value().state == os::spooler::QueueState::Stopped || !queue.value().accepting)) {
        auto resumed = os::spooler::resume(queue_name);
        if (!resumed.ok())
            return failure(format("멈춘 인쇄 큐입니다 (\"%s\", 오류 %d) — 인쇄 큐를 다시 시작해 주세요",
                               std::string(queue_name).c_str(), resumed.error().code),
                resumed.error().detail);
        log::bridge("PRT", "멈춘 인쇄 큐를 다시 시작했습니다: " + std::string(queue_name));
    }
    auto failed = attempt();
    if (!failed)
        return {};
    switch (failed->stage) {
    case os::spooler::JobStage::Open:
        return failure(format("프린터를 열 수 없습니다 (오류 %d)", failed->code), failed->detail);
    case os::spooler::JobStage::Start:
        return failure(format("인쇄 시작 실패 (오류 %d)", failed->code), failed->detail);
    case os::spooler::JobStage::Page:
        return failure("페이지 시작 실패", failed->detail);
    case os::spooler::JobStage::Write:
    case os::spooler::JobStage::Finish:
        break;
    }
    return failure(format("전송 실패 (%zu/%zu 바이트)", failed->written, bytes.size()), failed->detail);
}

Result<std::string> send_now(Route const& route, std::string_view bytes)
{
    thread_role::expect_off_ui_thread("프린터 전송");
    std::lock_guard device(g_device_lock);
    if (route.connection.empty()) {
        if (bytes.empty() || bytes.size() > max_job_bytes)
            return failure("인쇄 연결 설정이 올바르지 않습니다");
        return send_legacy(route, bytes);
    }
    auto address = parse_address(route.connection);
    if (bytes.empty() || bytes.size() > max_job_bytes || !address)
        return failure("인쇄 연결 설정이 올바르지 않습니다");
    switch (address->kind) {
    case AddressKind::None:
        return failure("프린터 없음으로 설정되어 있습니다 (설정 → 프린터 연결)");
    case AddressKind::Queue:
        TRY(raw_spooler_job(address->text, bytes));
        return std::string(text_sent);
    case AddressKind::Tcp: {
        auto port = pp::open_tcp(address->text, address->port, connect_ms);
        if (!port.ok())
            return failure(format("%s 전송 실패 (%d)", "LAN 연결/인쇄", port.error().code), port.error().detail);
        return deliver(*port.value(), "LAN 연결/인쇄", bytes, send_ms, false);
    }
    case AddressKind::Usb: {
        auto path = usb_device_path(address->text);
        if (!path)
            return failure("선택한 USB 프린터가 없습니다. 연결을 확인하거나 장치를 다시 선택하세요");
        auto port = pp::open_usb(*path);
        if (!port.ok())
            return logged(open_failure("USB", port.error()));
        return deliver(*port.value(), "USB", bytes, device_write_ms, false);
    }
    case AddressKind::Com: {
        auto port = open_serial_port(*address);
        if (!port.ok())
            return logged(port.release_error());
        return deliver(*port.value(), "COM", bytes, device_write_ms, true);
    }
    case AddressKind::Legacy:
    case AddressKind::Inherit:
        break;
    }
    return failure("직접 연결 방식이 아닙니다");
}

Health check_health(PrinterRecord const& record)
{
    thread_role::expect_off_ui_thread("프린터 상태 확인");
    std::unique_lock device(g_device_lock, std::try_to_lock);
    if (!device.owns_lock())
        return { HealthState::Busy };
    std::unique_ptr<pp::Port> port;
    if (record.connection.empty()) {
        if (!record.name.empty()) {
            auto queue = os::spooler::find(record.name);
            if (!queue.ok())
                return { HealthState::Unreachable };
            return { queue.value().state == os::spooler::QueueState::Stopped ? HealthState::QueueStopped
                                                                              : HealthState::QueueReady };
        }
        auto printers = usb_printers();
        if (printers.empty())
            return { HealthState::NotSet };
        auto opened = pp::open_usb(printers.front().device_path);
        if (!opened.ok())
            return { HealthState::Unreachable };
        port = opened.release_value();
    } else {
        auto address = parse_address(record.connection);
        if (!address)
            return { HealthState::NotSet };
        switch (address->kind) {
        case AddressKind::None:
            return { HealthState::NoPrinter };
        case AddressKind::Queue: {
            auto queue = os::spooler::find(address->text);
            if (!queue.ok())
                return { HealthState::Unreachable };
            return { queue.value().state == os::spooler::QueueState::Stopped ? HealthState::QueueStopped
                                                                              : HealthState::QueueReady };
        }
        case AddressKind::Tcp: {
            auto opened = pp::open_tcp(address->text, address->port, connect_ms);
            if (!opened.ok())
                return { HealthState::Unreachable };
            port = opened.release_value();
            break;
        }
        case AddressKind::Usb: {
            auto path = usb_device_path(address->text);
            auto opened = path ? pp::open_usb(*path) : Result<std::unique_ptr<pp::Port>>(Error::from_detail("no device"));
            if (!opened.ok())
                return { HealthState::Unreachable };
            port = opened.release_value();
            break;
        }
        case AddressKind::Com: {
            auto opened = open_serial_port(*address);
            if (!opened.ok())
                return { HealthState::Unreachable };
            port = opened.release_value();
            break;
        }
        case AddressKind::Legacy:
        case AddressKind::Inherit:
            return { HealthState::NotSet };
        }
    }
    Health health = ask_status(*port, status_wait_ms);
    port->finish(true);
    return health;
}

} // namespace tillbay::printing
