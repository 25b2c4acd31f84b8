// The application framework subset, in one include.
#pragma once

#include "framework/collections.h"
#include "framework/cstring.h"
#include "framework/exceptions.h"
#include "framework/file.h"
#include "framework/object.h"
#include "framework/string_table.h"
#include "framework/winapp.h"
