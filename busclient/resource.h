#pragma once

#define IDR_OPCINTERACTION 101
