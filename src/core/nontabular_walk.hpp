// The matching loop of the non-tabular parser: the stored text walked line
// by line against the tags.
#pragma once
#include "core/core.hpp"

namespace core::nontabular {

// self._parser(): walks self._text_to_parse, then sets self._dictio and self._validate.
void run_parser(Handle self);

}  // namespace core::nontabular
