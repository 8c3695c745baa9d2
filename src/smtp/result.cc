#include "smtp/result.h"

#include "smtp/reply_reader.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The class digit of an enhanced status code ("5.7.8") at the start of the
// text after the code, or 0 when there is none.
char EnhancedClass(std::string_view reply) {
  std::size_t end = reply.size();
  while (end > 0 && (reply[end - 1] == '\n' || reply[end - 1] == '\r')) --end;
  std::size_t start = reply.rfind('\n', end == 0 ? 0 : end - 1);
  start = start == std::string_view::npos || start >= end ? 0 : start + 1;
  std::string_view text = reply.substr(start, end - start);
  if (text.size() < 4) return 0;
  text.remove_prefix(4);
  if (text.size() < 5 || (text[0] != '2' && text[0] != '4' && text[0] != '5') || text[1] != '.') return 0;
  std::size_t at = 2;
  for (int part = 0; part < 2; ++part) {
    std::size_t digits = 0;
    while (at < text.size() && IsDigit(text[at]) && digits < 4) ++at, ++digits;
    if (digits == 0 || digits > 3) return 0;
    if (part == 0) {
      if (at >= text.size() || text[at] != '.') return 0;
      ++at;
    }
  }
  if (at < text.size() && text[at] != ' ') return 0;
  return text[0];
}

}  // namespace

Outcome ClassOfReply(std::string_view reply, Step step) {
  std::string_view code = ReplyCode(reply);
  if (code.size() != 3 || code[0] < '2' || code[0] > '5' || !IsDigit(code[1]) || !IsDigit(code[2])) {
    return Outcome::kProtocol;
  }
  if (code == "421" || (code == "454" && step == Step::kStartTls)) return Outcome::kTemporary;
  char kind = code[0];
  if (kind != '4' && kind != '5') return Outcome::kProtocol;
  char enhanced = EnhancedClass(reply);
  if (enhanced == '4' || enhanced == '5') kind = enhanced;
  if (kind == '4') return Outcome::kTemporary;
  return step == Step::kAuth ? Outcome::kLoginRefused : Outcome::kRefused;
}
