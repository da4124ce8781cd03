// Header fields a plug-in asks to be sent with its answer: the "Headers"
// object of a plain reply envelope. Only the fields of an operation that goes
// on as a task are taken (the task monitor's "Location", "Retry-After" and
// "Allow"); any other name, a value that is not a string, or one that could
// break the head is dropped.
#ifndef TOLVANE_REPLYHEADERS_H
#define TOLVANE_REPLYHEADERS_H

#include <string_view>

#include "answer/answer.h"

using HeaderFields = HeaderList;

HeaderFields pluginReplyHeaders(std::string_view reply);

#endif
