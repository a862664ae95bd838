#pragma once

#define IDR_OPCAUTOSERVER 101
