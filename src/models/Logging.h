#pragma once

#include <QLoggingCategory>

// The client's categories, "zanvolt.<area>" (zanvolt.net belongs to the HTTP engine). Failures the
// panel hides on purpose are logged here, so they show in the journal; never with secrets, passwords
// or links.
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcUpload)
Q_DECLARE_LOGGING_CATEGORY(lcTransfers)
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcUi)
