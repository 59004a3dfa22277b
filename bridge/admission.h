#pragma once

// Which document may send which bridge command with which arguments. A page
// message is checked twice: when it arrives, and again when the drain takes it
// from the queue, because the page may have changed while it waited.

#include "bridge/policy.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::bridge {

// The named limits of a page message.
inline constexpr size_t max_message_bytes = 4 * 1024 * 1024;         // and UTF-16 units at receipt
inline constexpr size_t max_plain_message_bytes = 256 * 1024;        // every command but `qrpng`
inline constexpr size_t max_command_name = 40;
inline constexpr size_t max_fields = 40;
inline constexpr size_t max_queued_page_messages = 256;

// The field separator of a bridge command.
inline constexpr std::string_view field_separator = "</>";

// Splits at every "</>", keeping empty fields; a text without a separator is
// one field, the empty text one empty field.
std::vector<std::string> split_fields(std::string_view text);

// 1 to 40 bytes of a-z, 0-9 and "_".
bool is_command_name(std::string_view name);

// The stage at which a message was refused; the block log shows its text.
enum class Refusal {
    None,
    Message,            // "message"
    DocumentCapability, // "document capability"
    Arguments,          // "arguments"
};
std::string_view refusal_reason(Refusal refusal);

// The admission check proper for a message from a document of class
// page_class (classified without the customer view flag). The policy is
// needed for the addresses of `viewphoto` and `openpdf`.
Refusal admit(std::string_view message, PageClass page_class, PagePolicy const& policy);

// A number as `setgpspos` carries it: 1 to 24 characters, an optional leading
// "-", digits with at most one ".", at least one digit, converting completely
// to a finite value within [low, high].
bool is_bounded_number(std::string_view text, double low, double high);

} // namespace tillbay::bridge
