// Identifiers of the program's resources (tervalo.rc).
#pragma once

#define IDI_TERVALO 1
#define IDD_SETTINGS 100
#define IDD_RESULTS 101

#define IDC_RADIO1 201
#define IDC_RADIO2 202
#define IDC_CHECK1 203
#define IDC_CHECK2 204
#define IDC_CHECK3 205
#define IDC_CHECK4 206
#define IDC_CHECK5 207
#define IDC_MARKER 208
#define IDC_SCALE 209

#define IDC_RESULTS_TEXT 301
#define IDC_RESULTS_LIST 302
#define IDC_RESULTS_COPY 303
