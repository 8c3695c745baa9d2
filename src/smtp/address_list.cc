#include "smtp/address_list.h"

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The address of one element, or empty when its brackets or quotes are not closed.
std::string_view AddressOf(std::string_view element) {
  bool quoted = false;
  std::size_t open = std::string_view::npos;
  for (std::size_t i = 0; i < element.size(); ++i) {
    char c = element[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      open = i;
    } else if (c == '>' && open != std::string_view::npos) {
      return Trimmed(element.substr(open + 1, i - open - 1));
    }
  }
  if (quoted || open != std::string_view::npos) return {};
  return element;
}

}  // namespace

std::vector<std::string_view> ListAddresses(std::string_view list) {
  std::vector<std::string_view> addresses;
  auto add = [&addresses](std::string_view element) {
    element = Trimmed(element);
    if (!element.empty()) addresses.push_back(AddressOf(element));
  };
  bool quoted = false;
  bool bracketed = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < list.size(); ++i) {
    char c = list[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      bracketed = true;
    } else if (c == '>') {
      bracketed = false;
    } else if (c == ',' && !bracketed) {
      add(list.substr(start, i - start));
      start = i + 1;
    }
  }
  add(list.substr(start < list.size() ? start : list.size()));
  return addresses;
}

std::string ComparableAddress(std::string_view address) {
  address = Trimmed(address);
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') {
    address = Trimmed(address.substr(1, address.size() - 2));
  }
  std::string comparable(address);
  std::size_t at = comparable.rfind('@');
  for (std::size_t i = at == std::string::npos ? comparable.size() : at; i < comparable.size(); ++i) {
    if (comparable[i] >= 'A' && comparable[i] <= 'Z') comparable[i] = static_cast<char>(comparable[i] - 'A' + 'a');
  }
  return comparable;
}
