// Ids of the program's resources.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_TARVEL_DIALOG 102
