#pragma once
// Resource ids shared by kovra.rc and the code. Plain defines: windres reads
// this file too.

// Dialog template and its items.
#define IDD_KOVRA_LOADER 130
#define IDC_MINIMISE_BUTTON 1016
#define IDC_CLOSE_BUTTON 1017
#define IDC_PROGRESS_BAR 1009

// Application icon group.
#define IDI_KOVRA 128

// Skin pictures, resource type "PNG".
#define IDP_CLOSE_PRESSED 114
#define IDP_CLOSE_HOVER 115
#define IDP_CLOSE_NORMAL 124
#define IDP_MINIMISE_PRESSED 126
#define IDP_MINIMISE_HOVER 127
#define IDP_MINIMISE_NORMAL 128
#define IDP_BACKGROUND 216
#define IDP_STRIPE_TILE 217
