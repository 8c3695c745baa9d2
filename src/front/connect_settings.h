// How the relay is reached: which of its addresses are tried, and how long
// each connection attempt may take.
#pragma once

#include "front/refusal.h"
#include "platform/environment.h"
#include "smtp/connection.h"

/// Completes Ip and ConnectTimeout from the environment (an option wins over
/// its variable) and checks their values. Returns the refusal that ends the
/// run (before any network activity), or an empty one.
Refusal CompleteConnectSettings(const platform::Environment& environment);

/// The delivery's bounds, with the connect bound that Settings.ConnectTimeout
/// names (the default when it is empty).
ReplyBounds DeliveryBounds();
