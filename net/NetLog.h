#pragma once

#include <QLoggingCategory>

// The network layer's messages. Debug and info are off by default; warnings
// (a failure the user should be able to read about) go to standard error.
Q_DECLARE_LOGGING_CATEGORY(lcNet)
