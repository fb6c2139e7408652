// Ids of the program's resources.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_TARVEL_DIALOG 102

// The three enciphered payloads, of the resource type "BINARY".
#define IDR_PAYLOAD_TOOLS 145
#define IDR_PAYLOAD_SKIN 147
#define IDR_PAYLOAD_LIBRARY 155
