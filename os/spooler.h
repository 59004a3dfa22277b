#pragma once

// The system's print spooler (CUPS on Linux): the queues it has, raw jobs
// into one named queue, and bringing a stopped queue back. The system's
// default printer is never chosen here: every call names its queue.

#include "base/result.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::os::spooler {

enum class QueueState {
    Idle,
    Printing,
    Stopped,
};

struct Queue {
    std::string name;
    std::string device_uri; // "usb://…", "socket://…", "serial:/dev/ttyS0", … (empty when unknown)
    std::string info;       // the description the administrator gave
    std::string make_model; // the driver's printer name
    QueueState state = QueueState::Idle;
    bool accepting = true;
};

// Every queue of the spooler. Fails when the spooler cannot be asked.
Result<std::vector<Queue>> queues();

// One queue by name. Fails with the spooler's status: "not found" (1030)
// when there is no such queue.
Result<Queue> find(std::string_view name);

// Starts a stopped queue and makes it accept jobs again. Fails when the
// spooler refuses (for instance for lack of rights); the error's code is the
// spooler's status.
Status resume(std::string_view name);

enum class JobStage {
    Open,   // the queue could not be reached or does not exist
    Start,  // the job could not be created
    Page,   // the document could not be started
    Write,  // the bytes did not all go
    Finish, // the spooler did not take the finished document
};

struct JobFailure {
    JobStage stage = JobStage::Open;
    int code = 0;       // the spooler's status code
    size_t written = 0; // bytes taken before a write failed
    std::string detail; // for the log
};

// Sends the bytes as one raw job (no filtering) with the title. Empty
// optional on success.
std::optional<JobFailure> raw_job(std::string_view queue_name, std::string_view title, std::string_view bytes);

} // namespace tillbay::os::spooler
