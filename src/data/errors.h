#pragma once

#include "store/error.h"

// An error of a cursor or of a field object: "Dataset not in edit or insert
// mode", "Field 'Nomeropory' must have a value", the conversion and range
// messages of the number readers. Errors for the whole table carry the
// cursor's name in front ("Table1: ..."); field-level messages carry none.
class DatabaseError : public SystemError
{
public:
    using SystemError::SystemError;
};

// A text that is not a number where one is expected, outside any field
// ("'6o' is not a valid integer value").
class ConvertError : public SystemError
{
public:
    using SystemError::SystemError;
};

// The store's errors as the windows and the calculation meet them: they
// name them here and never reach into the store themselves.
using StoreError = store::StoreError;
// A Section that another user's Supports still name is not removed.
using StillReferencedError = store::StillReferencedError;
