#pragma once
// The About box's texts, the same in both windows. Plain macros, so that
// the Windows resource script can take them too.

#define ABOUT_TITLE_TEXT "BRAMBLE Vantrel Server\nVersion 1.0r5"
#define ABOUT_LINE_TEXT "Serial ports shared over TCP/IP"
