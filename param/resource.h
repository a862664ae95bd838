#pragma once

#define IDR_OV_PARAMETER 101
