#include "net/NetLog.h"

Q_LOGGING_CATEGORY(lcNet, "netrika.net", QtWarningMsg)
