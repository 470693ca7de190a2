#pragma once

#include "AppError.h"
#include "UserText.h"

// Thrown when the user cancelled an operation, so callers can tell it apart
// from a failure.
class CancelledError : public AppError {
public:
    CancelledError() : AppError(UserText::cancelled()) {}
};
