// Finding elements of the SPE 3.0 XML footer by local name: the root carries a default
// namespace, and the namespace URI is ignored.
#pragma once

#include <pugixml.hpp>

#include <string_view>

namespace orlix::xml {

inline std::string_view LocalName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    auto colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

inline pugi::xml_node Child(const pugi::xml_node& parent, std::string_view local) {
    for (auto child : parent.children())
        if (child.type() == pugi::node_element && LocalName(child) == local) return child;
    return {};
}

// The first element anywhere below `root` with this local name whose parent has `parent`
// (any parent when `parent` is empty).
inline pugi::xml_node FindBelow(const pugi::xml_node& root, std::string_view parent,
                                std::string_view local) {
    return root.find_node([&](const pugi::xml_node& n) {
        return n.type() == pugi::node_element && LocalName(n) == local &&
               (parent.empty() || LocalName(n.parent()) == parent);
    });
}

}  // namespace orlix::xml
