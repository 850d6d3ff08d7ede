// The registration text of the markup compiler: show_commands, regex (and
// regex_tags) displays over what the compiler holds, and the call of extend.
#include "core/markup.hpp"
#include <algorithm>
#include <utility>
#include <vector>

namespace core::markup {

using namespace pyutil;

namespace {

struct Command {
    Object tag, text, regex_entries, tag_entries;
};

struct OsGroup {
    Object name;  // lower case
    std::vector<Command> commands;
};

// One group per OS name in code-point order of the OS texts.  The default
// "WEND" and an explicit "wend" are one group (the explicit entry winning a
// command tag both hold): two displays under one name would keep only the later.
std::vector<OsGroup> os_groups(Handle self) {
    Object commands = getattr(self, PYU_STR("_commands"));
    Object regexdict = getattr(self, PYU_STR("_regexdict"));
    Object keydict = getattr(self, PYU_STR("_regexkeydict"));
    std::vector<std::pair<Object, Object>> merged;  // name, dict tag -> (os text, text)
    Object oses = iter(sorted(commands));
    while (Object os = next(oses)) {
        Object name = call_method(os, PYU_STR("lower"), {});
        const bool explicit_name = same_or_equal(name, os);
        auto slot = merged.begin();
        while (slot != merged.end() && !same_or_equal(slot->first, name)) ++slot;
        if (slot == merged.end()) slot = merged.insert(merged.end(), {name, new_dict()});
        Object items = iter(call_method(getitem(commands, os), PYU_STR("items"), {}));
        while (Object item = next(items)) {
            Object tag, text;
            unpack2(item, tag, text);
            if (contains(slot->second, tag) && !explicit_name) continue;
            setitem(slot->second, tag, tuple({os, text}));
        }
    }
    std::vector<OsGroup> groups;
    for (auto& [name, by_tag] : merged) {
        OsGroup g{name, {}};
        Object items = iter(sorted(call_method(by_tag, PYU_STR("items"), {})));
        while (Object item = next(items)) {
            Object tag, source, os, text;
            unpack2(item, tag, source);
            unpack2(source, os, text);
            g.commands.push_back(
                {tag, text, getitem(getitem(regexdict, os), tag), getitem(getitem(keydict, os), tag)});
        }
        groups.push_back(std::move(g));
    }
    return groups;
}

void add_show_commands(TextBuilder& text, const std::vector<OsGroup>& groups) {
    text << PYU_STR("show_commands = {\n");
    for (const OsGroup& g : groups) {
        Py_ssize_t width = 0;
        for (const Command& c : g.commands) width = std::max(width, length(c.tag));
        text << format(PYU_STR("    {}: {{\n"), {literal(g.name)});
        for (const Command& c : g.commands) {
            Object pad = multiply(PYU_STR(" "), integer(width - length(c.tag)));
            text << format(PYU_STR("        {}{}: {},\n"), {literal(c.tag), pad, literal(c.text)});
        }
        text << PYU_STR("    },\n");
    }
    text << PYU_STR("}\n");
}

// The regex or regex_tags display: per command a comment title and its entry lines.
void add_entries(TextBuilder& text, const std::vector<OsGroup>& groups, bool tags) {
    text << (tags ? PYU_STR("regex_tags = {\n") : PYU_STR("regex = {\n"));
    for (const OsGroup& g : groups) {
        text << format(tags ? PYU_STR("    {}: [\n") : PYU_STR("    {}: {{\n"), {literal(g.name)});
        for (const Command& c : g.commands) {
            text << PYU_STR("        #\n");
            text << format(PYU_STR("        # {} ({})\n"), {comment_text(c.tag), literal(c.text)});
            text << PYU_STR("        #\n");
            text << (tags ? c.tag_entries : c.regex_entries);
            text << PYU_STR("\n");
        }
        text << (tags ? PYU_STR("    ],\n") : PYU_STR("    },\n"));
    }
    text << PYU_STR("}\n");
}

Object generate_output_body(const Args& a) {
    Handle self = a[0];
    const bool with_tags = truth(a[1]);
    const bool package_form = truth(a[2]);
    std::vector<OsGroup> groups = os_groups(self);
    TextBuilder text;
    text << (package_form ? PYU_STR("from mirel import textloom as tlpkg\n")
                          : PYU_STR("from mirel.textloom import core as tlcore\n"));
    add_show_commands(text, groups);
    add_entries(text, groups, false);
    if (with_tags) add_entries(text, groups, true);
    if (package_form)
        text << (with_tags ? PYU_STR("tlpkg.extend (regex, show_commands, regex_tags)\n")
                           : PYU_STR("tlpkg.extend (regex, show_commands)\n"));
    else
        text << (with_tags ? PYU_STR("tlcore.extend (regex, show_commands, regex_tags)\n")
                           : PYU_STR("tlcore.extend (regex, show_commands)\n"));
    return text.joined();
}

}  // namespace

FunctionSpec generate_output_spec{"generate_output", "_mk_textloom_t.generate_output",
                                  {{"self"}, {"generate_regex_tags", false}, {"called_from_textloom", false}},
                                  generate_output_body,
                                  "The registration text: show_commands, regex (and regex_tags) and the call "
                                  "of extend."};

}  // namespace core::markup
