// The hierarchical view of the item IDs for browsing: "/" separates branches,
// the last element is the leaf. Pure data; the browse position belongs to the caller.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Bus.h"

namespace bussim {

// Name filters as OPC clients write them: '*' any run, '?' one character,
// '#' one digit, [abc] [a-z] [!abc] one character of (not of) the set.
// Case-sensitive, like item IDs.
bool MatchesFilter(const std::string& text, const std::string& filter);

class AddressSpace {
public:
    using Position = std::vector<std::string>;  // branch names from the root
    using ItemFilter = std::function<bool(const ItemInfo&)>;

    explicit AddressSpace(const std::vector<ItemInfo>& items);

    bool IsBranch(const Position& position) const { return FindBranch(position) != nullptr; }
    // "DP/Slave3" -> {"DP", "Slave3"}; "" -> the root.
    static Position Split(const std::string& path);
    static std::string Join(const Position& position);

    // Names of the child branches / leaves at a position (sorted).
    std::vector<std::string> Branches(const Position& position, const std::string& filter) const;
    std::vector<std::string> Leaves(const Position& position, const std::string& filter,
                                    const ItemFilter& accept) const;
    // Full item IDs at and below a position; the name filter applies to the full ID.
    std::vector<std::string> Flat(const Position& position, const std::string& filter,
                                  const ItemFilter& accept) const;

    // The full ID of a leaf or branch named at a position, or of a full ID given as such.
    std::optional<std::string> ItemId(const Position& position, const std::string& name) const;

private:
    struct Node {
        std::map<std::string, std::unique_ptr<Node>> branches;
        std::map<std::string, ItemInfo> leaves;
    };
    const Node* FindBranch(const Position& position) const;
    void CollectFlat(const Node& node, const std::string& filter, const ItemFilter& accept,
                     std::vector<std::string>* out) const;

    Node root_;
    std::map<std::string, ItemInfo> items_;  // by full ID
};

}  // namespace bussim
