// Lists of addresses as users write them: "a@example.com, Pat <p@example.org>".
#pragma once

#include <string>
#include <string_view>
#include <vector>

/// The address of each element of a comma-separated list: what is inside
/// the element's angle brackets, or the element without the blanks around
/// it. A comma inside double quotes or angle brackets does not split; empty
/// elements are skipped. An element whose brackets or quotes are not closed
/// gives an empty address.
std::vector<std::string_view> ListAddresses(std::string_view list);

/// An address as compared for duplicates: without blanks and angle brackets
/// around it, its domain in lower case.
std::string ComparableAddress(std::string_view address);
