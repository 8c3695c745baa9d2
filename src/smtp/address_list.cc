#include "smtp/address_list.h"

namespace {

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
      return TrimBlanks(element.substr(open + 1, i - open - 1));
    }
  }
  if (quoted || open != std::string_view::npos) return {};
  return element;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> ListElements(std::string_view list) {
  std::vector<std::string_view> elements;
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
      elements.push_back(list.substr(start, i - start));
      start = i + 1;
    }
  }
  elements.push_back(list.substr(start < list.size() ? start : list.size()));
  return elements;
}

std::vector<std::string_view> ListAddresses(std::string_view list) {
  std::vector<std::string_view> addresses;
  for (std::string_view element : ListElements(list)) {
    element = TrimBlanks(element);
    if (!element.empty()) addresses.push_back(AddressOf(element));
  }
  return addresses;
}

std::string ComparableAddress(std::string_view address) {
  address = TrimBlanks(address);
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') {
    address = TrimBlanks(address.substr(1, address.size() - 2));
  }
  std::string comparable(address);
  std::size_t at = comparable.rfind('@');
  for (std::size_t i = at == std::string::npos ? comparable.size() : at; i < comparable.size(); ++i) {
    if (comparable[i] >= 'A' && comparable[i] <= 'Z') comparable[i] = static_cast<char>(comparable[i] - 'A' + 'a');
  }
  return comparable;
}
