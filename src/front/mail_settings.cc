#include "front/mail_settings.h"

MailSettings Settings;
platform::CalendarTime StartTime = 0;
