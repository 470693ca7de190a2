#include "models/Logging.h"

Q_LOGGING_CATEGORY(lcNet, "zanvolt.net", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpload, "zanvolt.upload", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTransfers, "zanvolt.transfers", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdate, "zanvolt.update", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "zanvolt.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "zanvolt.ui", QtInfoMsg)
