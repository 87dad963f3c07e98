// The list container: indexing, insertion and removal at and past the end,
// the link invariants that every operation must keep, and linear index walks.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "framework/QX3List.h"

namespace {

typedef QX3List<const char*> StrList;

const char* A = "a";
const char* B = "b";
const char* C = "c";
const char* X = "x";

void Fill(StrList& list, const std::vector<const char*>& values)
{
    for (const char* v : values)
        list.push_back(v);
}

// Walks both directions and checks they pass exactly size() element nodes.
std::vector<const char*> Contents(StrList& list)
{
    std::vector<const char*> forward;
    const StrList::NODE* node = list.head()->next;
    while (node != list.end()) {
        forward.push_back(node->value);
        node = node->next;
    }
    std::vector<const char*> backward;
    node = list.end()->prev;
    while (node != list.head()) {
        backward.insert(backward.begin(), node->value);
        node = node->prev;
    }
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(forward.size(), list.size());
    EXPECT_EQ(list.empty(), list.size() == 0);
    return forward;
}

TEST(QX3List, NewAndReinitialisedListsAreEmpty)
{
    StrList list;
    EXPECT_EQ(list.size(), 0u);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.at(0), list.end());
    EXPECT_EQ(list[0], nullptr); // the head sentinel's null slot
    Fill(list, {A, B});
    list.clear();
    list.init();
    EXPECT_TRUE(Contents(list).empty());
}

TEST(QX3List, IndexingAtAndPastTheEnd)
{
    StrList list;
    Fill(list, {A, B, C});
    struct Case {
        unsigned int index;
        const char* value;
        bool atIsEnd;
    } cases[] = {{0, A, false}, {1, B, false}, {2, C, false}, {3, C, true}, {100, C, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(list[c.index], c.value);
        EXPECT_EQ(list.at(c.index) == list.end(), c.atIsEnd);
    }
}

TEST(QX3List, InsertAndRemove)
{
    struct Case {
        const char* name;
        std::vector<const char*> start;
        std::function<void(StrList&)> op;
        std::vector<const char*> expected;
    } cases[] = {
        {"insert at 0", {A, B}, [](StrList& l) { l.insert(X, 0); }, {X, A, B}},
        {"insert at 1", {A, B}, [](StrList& l) { l.insert(X, 1); }, {A, X, B}},
        {"insert at size", {A, B}, [](StrList& l) { l.insert(X, 2); }, {A, B, X}},
        {"insert past end", {A, B}, [](StrList& l) { l.insert(X, 9); }, {A, B, X}},
        {"insert into empty", {}, [](StrList& l) { l.insert(X, 0); }, {X}},
        {"remove middle", {A, B, C}, [](StrList& l) { l.remove(1); }, {A, C}},
        {"remove first", {A, B, C}, [](StrList& l) { l.remove(0); }, {B, C}},
        {"remove past end takes last", {A, B, C}, [](StrList& l) { l.remove(5); }, {A, B}},
        {"remove at size takes last", {A, B, C}, [](StrList& l) { l.remove(3); }, {A, B}},
        {"remove on empty", {}, [](StrList& l) { l.remove(0); }, {}},
        {"pop_back", {A, B, C}, [](StrList& l) { l.pop_back(); }, {A, B}},
        {"pop_back on empty", {}, [](StrList& l) { l.pop_back(); }, {}},
        {"clear", {A, B, C}, [](StrList& l) { l.clear(); }, {}},
        {"clear on empty", {}, [](StrList& l) { l.clear(); }, {}},
        {"same pointer twice", {A}, [](StrList& l) { l.push_back(A); }, {A, A}},
        {"remove then append",
         {A, B},
         [](StrList& l) {
             l.remove(0);
             l.push_back(C);
         },
         {B, C}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StrList list;
        Fill(list, c.start);
        (void)list[(unsigned int)c.start.size() - 1]; // a cursor that the change must not leave stale
        c.op(list);
        EXPECT_EQ(Contents(list), c.expected);
        std::vector<const char*> indexed(c.expected.size());
        for (unsigned int i = (unsigned int)c.expected.size(); i-- > 0;)
            indexed[i] = list.at(i)->value;
        EXPECT_EQ(indexed, c.expected);
        for (unsigned int i = 0; i < c.expected.size(); i++)
            EXPECT_EQ(list[i], c.expected[i]);
    }
}

// Walking the indices in order, either way, or hopping around a position
// takes one step per element: 200,000 elements index in well under a second
// (from the head each time it would take minutes).
TEST(QX3List, IndexWalksAreLinear)
{
    const unsigned int n = 200000;
    std::vector<std::string> texts(n);
    StrList list;
    for (unsigned int i = 0; i < n; i++) {
        texts[i] = std::to_string(i);
        list.push_back(texts[i].c_str());
    }
    const auto start = std::chrono::steady_clock::now();
    unsigned int wrong = 0;
    for (unsigned int i = 0; i < n; i++)
        wrong += list[i] != texts[i].c_str();
    for (unsigned int i = n; i-- > 0;)
        wrong += list.at(i)->value != texts[i].c_str();
    for (unsigned int i = 1; i + 1 < n; i++)
        wrong += list[i + 1] != texts[i + 1].c_str() || list[i - 1] != texts[i - 1].c_str();
    EXPECT_EQ(wrong, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(QX3List, ClearLeavesThePointeesAlone)
{
    QX3List<std::string*> list;
    std::string* record = new std::string("kept");
    list.push_back(record);
    list.push_back(record);
    list.clear();
    EXPECT_EQ(*record, "kept");
    delete record;
}

} // namespace
