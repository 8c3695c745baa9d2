// Lists of addresses as users write them: "a@example.com, Pat <p@example.org>".
#pragma once

#include <string>
#include <string_view>
#include <vector>

/// The elements of a comma-separated list as written, blanks kept: split at
/// each comma outside double quotes and angle brackets.
std::vector<std::string_view> ListElements(std::string_view list);

/// The text without the spaces and tabs around it.
std::string_view TrimBlanks(std::string_view text);

/// The address of each element of a comma-separated list: what is inside
/// the element's angle brackets, or the element without the blanks around
/// it. A comma inside double quotes or angle brackets does not split; empty
/// elements are skipped. An element whose brackets or quotes are not closed
/// gives an empty address.
std::vector<std::string_view> ListAddresses(std::string_view list);

/// An address as compared for duplicates: without blanks and angle brackets
/// around it, its domain in lower case.
std::string ComparableAddress(std::string_view address);
