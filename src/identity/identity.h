// The texts that say where and when a message was made: the Message-ID and
// the originator of the Received header.
#pragma once

#include <string>
#include <string_view>

#include "platform/environment.h"

/// The text with each CR and each LF turned into one blank. Texts that come
/// from the system (registration values, "OS", the resolver's names) pass
/// through it before they are stored, so none can break a line on the wire.
std::string WithoutLineBreaks(std::string_view text);

/// Writes the 24-character time base of Settings.MessageId from StartTime,
/// e.g. "Sun-Dec-06-01.32.09-2026".
void BuildMessageIdBase();

/// The text with every character that dot-atom-text does not allow there
/// (RFC 5322: letters, digits, "!#$%&'*+-/=?^_`{|}~", and "." between
/// them) replaced by "-".
std::string DotAtomText(std::string_view text);

/// Extends Settings.MessageId with a part unique to this run, "@" and the
/// official name the resolver gives for "localhost" (or "-NullHostName" and
/// "@localhost" when it does not resolve), so that it is an RFC 5322 msg-id:
/// a character of the name that the right part does not allow becomes "-",
/// and the name is cut first when the whole does not fit the field.
void AppendHostSuffix();

/// The registry key name below Software\Microsoft for an "OS" value: the
/// value itself, "Windows" when absent, "Windows NT" for "Windows_NT".
std::string_view SystemKeyNameFor(const std::string_view* osValue);

/// Sets Settings.SystemKeyName and Settings.Originator ("owner of
/// organisation") from the registration values, line breaks made blanks,
/// each cut to fit.
void ReadOriginator(const platform::Environment& environment);
