#include "printing/printer_health.h"

namespace tillbay::printing {

namespace {

constexpr char status_request[] = { 0x10, 0x04, 0x01 };
constexpr char cause_requests[] = { 0x10, 0x04, 0x02, 0x10, 0x04, 0x04 };

// Every real-time status byte has bit 1 and bit 4 set, bits 0 and 7 clear.
bool is_status_byte(char c) { return (static_cast<unsigned char>(c) & 0x93) == 0x12; }

} // namespace

char const* Health::word() const
{
    switch (state) {
    case HealthState::Online:
        return "online";
    case HealthState::PaperNearEnd:
        return "paper-near-end";
    case HealthState::PaperOut:
        return "paper-out";
    case HealthState::CoverOpen:
        return "cover-open";
    case HealthState::Offline:
        return "offline";
    case HealthState::Unreachable:
        return "unreachable";
    case HealthState::Busy:
        return "busy";
    case HealthState::QueueReady:
        return "queue-ready";
    case HealthState::QueueStopped:
        return "queue-stopped";
    case HealthState::NoPrinter:
        return "none";
    case HealthState::NotSet:
        return "not-set";
    case HealthState::Unknown:
        break;
    }
    return "unknown";
}

char const* Health::text() const
{
    switch (state) {
    case HealthState::Online:
        return "정상";
    case HealthState::PaperNearEnd:
        return "용지 부족";
    case HealthState::PaperOut:
        return "용지 없음";
    case HealthState::CoverOpen:
        return "덮개 열림";
    case HealthState::Offline:
        return "오프라인";
    case HealthState::Unreachable:
        return "연결 안 됨";
    case HealthState::Busy:
        return "인쇄 중";
    case HealthState::QueueReady:
        return "인쇄 큐 준비됨";
    case HealthState::QueueStopped:
        return "인쇄 큐 멈춤";
    case HealthState::NoPrinter:
        return "프린터 없음";
    case HealthState::NotSet:
        return "설정 안 됨";
    case HealthState::Unknown:
        break;
    }
    return "상태 알 수 없음";
}

Health read_status(std::string_view answers)
{
    if (answers.size() < 3 || !is_status_byte(answers[0]) || !is_status_byte(answers[1]) || !is_status_byte(answers[2]))
        return {};
    auto printer = static_cast<unsigned char>(answers[0]);
    auto cause = static_cast<unsigned char>(answers[1]);
    auto paper = static_cast<unsigned char>(answers[2]);
    if ((paper & 0x60) || (cause & 0x20))
        return { HealthState::PaperOut };
    if (cause & 0x04)
        return { HealthState::CoverOpen };
    if (printer & 0x08)
        return { HealthState::Offline };
    if (paper & 0x0C)
        return { HealthState::PaperNearEnd };
    return { HealthState::Online };
}

Health ask_status(os::printer_port::Port& port, int timeout_ms)
{
    if (!port.can_answer())
        return {};
    // The first question tells whether the printer answers at all; only
    // then are the causes asked for, so a silent printer costs one wait.
    if (!port.write_all(std::string_view(status_request, sizeof status_request), timeout_ms).ok())
        return {};
    std::string answers;
    auto first = port.read_some(1, timeout_ms);
    if (!first.ok() || first.value().empty())
        return {};
    answers += first.value();
    if (!port.write_all(std::string_view(cause_requests, sizeof cause_requests), timeout_ms).ok())
        return {};
    while (answers.size() < 3) {
        auto more = port.read_some(3 - answers.size(), timeout_ms);
        if (!more.ok() || more.value().empty())
            return {};
        answers += more.value();
    }
    return read_status(answers);
}

std::string blocked_message(Health health)
{
    if (health.state == HealthState::PaperOut)
        return "프린터에 용지가 없습니다. 용지를 넣은 뒤 다시 인쇄하세요";
    if (health.state == HealthState::CoverOpen)
        return "프린터 덮개가 열려 있습니다. 덮개를 닫은 뒤 다시 인쇄하세요";
    return {};
}

} // namespace tillbay::printing
