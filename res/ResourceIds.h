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

// The same pictures at twice the size (for 192 DPI): each is its 1x id plus
// this offset.
#define IDP_DOUBLE_SIZE_OFFSET 1000
#define IDP_CLOSE_PRESSED_2X 1114
#define IDP_CLOSE_HOVER_2X 1115
#define IDP_CLOSE_NORMAL_2X 1124
#define IDP_MINIMISE_PRESSED_2X 1126
#define IDP_MINIMISE_HOVER_2X 1127
#define IDP_MINIMISE_NORMAL_2X 1128
#define IDP_BACKGROUND_2X 1216
#define IDP_STRIPE_TILE_2X 1217
