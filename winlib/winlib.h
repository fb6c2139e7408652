// Everything of winlib in one include.
#pragma once

#include "winlib/strings.h"
#include "winlib/collections.h"
#include "winlib/exception.h"
#include "winlib/gdi.h"
#include "winlib/window.h"
#include "winlib/controls.h"
#include "winlib/app.h"
#include "winlib/file.h"
#include "winlib/file_dialog.h"
