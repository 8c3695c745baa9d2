// AUTH: one function per mechanism, and the Base64 they send in.
#pragma once

#include <string>
#include <string_view>

#include "smtp/result.h"

class Session;

/// Base64 (RFC 4648, with padding) of the bytes.
std::string Base64(std::string_view bytes);
/// The same, appended to encoded.
void AppendBase64(std::string& encoded, std::string_view bytes);

/// AUTH with Settings.User and the session's secret, by the mechanism
/// Settings.Auth names or, without one, PLAIN or LOGIN as the relay offers
/// them. The secret is forgotten afterwards, whatever happened. Fails
/// (connection closed) when the relay does not offer the mechanism or does
/// not answer 235.
StepResult Authenticate(Session& session);
