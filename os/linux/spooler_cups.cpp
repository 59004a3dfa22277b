#include "os/spooler.h"

#include <cups/cups.h>
#include <cups/ipp.h>

#include <memory>

namespace tillbay::os::spooler {

namespace {

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

char const* const queue_attributes[] = {
    "printer-name",
    "device-uri",
    "printer-info",
    "printer-make-and-model",
    "printer-state",
    "printer-is-accepting-jobs",
};

std::string text_of(ipp_attribute_t* attribute)
{
    char const* text = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
    return text ? text : "";
}

Error spooler_error(std::string const& what)
{
    return Error::from_detail(what + ": " + cupsLastErrorString(), static_cast<int>(cupsLastError()));
}

std::string printer_uri(std::string_view name)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
        std::string(name).c_str());
    return uri;
}

// One IPP request on the thread's own connection to the spooler; the
// answer, or nothing with cupsLastError() telling why.
Ipp send(ipp_t* request, char const* resource)
{
    return Ipp(cupsDoRequest(CUPS_HTTP_DEFAULT, request, resource));
}

bool succeeded() { return cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE; }

} // namespace

Result<std::vector<Queue>> queues()
{
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
        static_cast<int>(sizeof queue_attributes / sizeof queue_attributes[0]), nullptr, queue_attributes);
    Ipp answer = send(request, "/");
    std::vector<Queue> out;
    if (!answer) {
        // A spooler without any queue answers "not found".
        if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
            return out;
        return spooler_error("CUPS-Get-Printers");
    }
    Queue queue;
    bool open = false;
    auto close = [&] {
        if (open && !queue.name.empty())
            out.push_back(queue);
        queue = Queue {};
        open = false;
    };
    for (ipp_attribute_t* attribute = ippFirstAttribute(answer.get()); attribute;
         attribute = ippNextAttribute(answer.get())) {
        if (ippGetGroupTag(attribute) != IPP_TAG_PRINTER) {
            close();
            continue;
        }
        open = true;
        char const* name = ippGetName(attribute);
        if (!name)
            continue;
        std::string_view key = name;
        if (key == "printer-name")
            queue.name = text_of(attribute);
        else if (key == "device-uri")
            queue.device_uri = text_of(attribute);
        else if (key == "printer-info")
            queue.info = text_of(attribute);
        else if (key == "printer-make-and-model")
            queue.make_model = text_of(attribute);
        else if (key == "printer-state") {
            int state = ippGetInteger(attribute, 0);
            queue.state = state == IPP_PSTATE_STOPPED ? QueueState::Stopped
                : state == IPP_PSTATE_PROCESSING      ? QueueState::Printing
                                                      : QueueState::Idle;
        } else if (key == "printer-is-accepting-jobs")
            queue.accepting = ippGetBoolean(attribute, 0) != 0;
    }
    close();
    return out;
}

Result<Queue> find(std::string_view name)
{
    auto all = TRY(queues());
    for (auto& queue : all) {
        if (queue.name == name)
            return queue;
    }
    return Error::from_detail("no queue named " + std::string(name), static_cast<int>(IPP_STATUS_ERROR_NOT_FOUND));
}

Status resume(std::string_view name)
{
    std::string uri = printer_uri(name);
    for (ipp_op_t operation : { IPP_OP_RESUME_PRINTER, IPP_OP_CUPS_ACCEPT_JOBS }) {
        ipp_t* request = ippNewRequest(operation);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        Ipp answer = send(request, "/admin/");
        if (!succeeded())
            return spooler_error(operation == IPP_OP_RESUME_PRINTER ? "Resume-Printer" : "CUPS-Accept-Jobs");
    }
    return {};
}

std::optional<JobFailure> raw_job(std::string_view queue_name, std::string_view title, std::string_view bytes)
{
    std::string name(queue_name);
    std::string job_title(title);
    auto failure = [](JobStage stage, std::string const& what, size_t written = 0) {
        return JobFailure { stage, static_cast<int>(cupsLastError()), written, what + ": " + cupsLastErrorString() };
    };
    int job = cupsCreateJob(CUPS_HTTP_DEFAULT, name.c_str(), job_title.c_str(), 0, nullptr);
    if (job == 0) {
        ipp_status_t status = cupsLastError();
        bool unreachable = status == IPP_STATUS_ERROR_NOT_FOUND || status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE
            || status == IPP_STATUS_ERROR_INTERNAL;
        return failure(unreachable ? JobStage::Open : JobStage::Start, "Create-Job");
    }
    if (cupsStartDocument(CUPS_HTTP_DEFAULT, name.c_str(), job, job_title.c_str(), CUPS_FORMAT_RAW, 1)
        != HTTP_STATUS_CONTINUE) {
        auto result = failure(JobStage::Page, "Send-Document");
        cupsCancelJob2(CUPS_HTTP_DEFAULT, name.c_str(), job, 0);
        return result;
    }
    if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, bytes.data(), bytes.size()) != HTTP_STATUS_CONTINUE) {
        auto result = failure(JobStage::Write, "write", 0);
        cupsFinishDocument(CUPS_HTTP_DEFAULT, name.c_str());
        cupsCancelJob2(CUPS_HTTP_DEFAULT, name.c_str(), job, 0);
        return result;
    }
    if (cupsFinishDocument(CUPS_HTTP_DEFAULT, name.c_str()) > IPP_STATUS_OK_EVENTS_COMPLETE)
        return failure(JobStage::Finish, "finish", bytes.size());
    return std::nullopt;
}

} // namespace tillbay::os::spooler
