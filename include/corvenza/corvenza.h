#pragma once
/// @file
/// Everything an application needs, in one include.

#include <corvenza/api_connector.h>
#include <corvenza/config.h>
#include <corvenza/connection_state.h>
#include <corvenza/console.h>
#include <corvenza/creation_queue.h>
#include <corvenza/default_token_provider.h>
#include <corvenza/direct_token_provider.h>
#include <corvenza/enterprise.h>
#include <corvenza/error.h>
#include <corvenza/estimation.h>
#include <corvenza/estimation_client.h>
#include <corvenza/estimation_fields.h>
#include <corvenza/main_queue.h>
#include <corvenza/permission_util.h>
#include <corvenza/region.h>
#include <corvenza/remote_image.h>
#include <corvenza/request_callbacks.h>
#include <corvenza/token.h>
#include <corvenza/version.h>
