#pragma once
/// @file
/// Everything an application needs, in one include.

#include <corvenza/config.h>
#include <corvenza/console.h>
#include <corvenza/enterprise.h>
#include <corvenza/error.h>
#include <corvenza/main_queue.h>
#include <corvenza/region.h>
#include <corvenza/token.h>
#include <corvenza/version.h>
