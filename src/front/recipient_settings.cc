#include "front/recipient_settings.h"

#include "front/mail_settings.h"
#include "front/options.h"
#include "smtp/address_list.h"

namespace {

// Each address of a list is checked like -t: a whole address of at most 127 characters.
Refusal CheckList(const ListField& list, std::string_view name) {
  for (std::string_view address : ListAddresses(list.view())) {
    if (address.size() > Field::kMaxLength) {
      return FramedFailure(std::string("The ").append(name).append(" value holds an address longer than 127 characters."));
    }
    if (address.empty() || address.find_first_of("<>\" ") != std::string_view::npos) {
      return FramedFailure(std::string("The ").append(name).append(" value holds an address that is not valid."));
    }
  }
  return {};
}

}  // namespace

Refusal CompleteRecipientSettings(const platform::Environment& environment) {
  MailSettings& s = Settings;
  struct List {
    ListField& field;
    const char* name;
    const char* variable;
  };
  for (const List& list : {List{s.Cc, "Cc", "ryCc"}, List{s.Bcc, "Bcc", "ryBcc"}}) {
    if (!list.field.IsSet()) {
      if (auto value = environment.Find(list.variable)) {
        if (Refusal refused = StoreSetting(list.field, list.name, *value, true); !refused.empty()) return refused;
      }
    }
    if (Refusal refused = CheckList(list.field, list.name); !refused.empty()) return refused;
  }
  struct Mode {
    Field& field;
    const char* name;
    const char* variable;
  };
  for (const Mode& mode : {Mode{s.Ehlo, "Ehlo", "ryEhlo"}, Mode{s.OnRefused, "OnRefused", "ryOnRefused"}}) {
    if (mode.field.IsSet()) continue;
    if (auto value = environment.Find(mode.variable)) {
      if (Refusal refused = StoreSetting(mode.field, mode.name, *value, true); !refused.empty()) return refused;
    }
  }
  if (s.Ehlo.IsSet() && !OneOf(s.Ehlo.view(), {"on", "off"})) return FramedFailure("The Ehlo value must be on or off.");
  if (s.OnRefused.IsSet() && !OneOf(s.OnRefused.view(), {"stop", "continue"})) {
    return FramedFailure("The OnRefused value must be stop or continue.");
  }
  return {};
}
