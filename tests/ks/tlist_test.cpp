// TList keeps both link directions, the ends and the count consistent.
#include <doctest/doctest.h>

#include <vector>

#include "ks/tlist.h"
#include "support/machine.h"

namespace {

using List = TList<int>;

std::vector<int*> Walk(const List& list) {
  std::vector<int*> elements;
  for (auto* node = list.m_pHead; node != NULL; node = node->pNext) elements.push_back(node->pData);
  return elements;
}

std::vector<int*> WalkBackwards(const List& list) {
  std::vector<int*> elements;
  for (auto* node = list.m_pTail; node != NULL; node = node->pPrev) elements.push_back(node->pData);
  return elements;
}

}  // namespace

TEST_CASE("AddTail and RemoveHead keep the links in both directions") {
  testing::Machine machine;
  int x = 1, y = 2, z = 3;
  List list;
  CHECK(list.m_lCount == 0);
  auto* first = list.AddTail(&x);
  REQUIRE(first != NULL);
  CHECK(list.m_pHead == first);
  CHECK(list.m_pTail == first);
  CHECK(first->pPrev == NULL);
  CHECK(first->pNext == NULL);

  auto* second = list.AddTail(&y);
  CHECK(first->pNext == second);
  CHECK(second->pPrev == first);
  list.AddTail(&z);
  CHECK(list.m_lCount == 3);
  CHECK(Walk(list) == std::vector<int*>{&x, &y, &z});
  CHECK(WalkBackwards(list) == std::vector<int*>{&z, &y, &x});

  CHECK(list.RemoveHead() == &x);
  CHECK(list.m_pHead == second);
  CHECK(second->pPrev == NULL);
  CHECK(list.RemoveHead() == &y);
  CHECK(list.m_pHead == list.m_pTail);
  CHECK(list.m_pHead->pPrev == NULL);
  CHECK(list.RemoveHead() == &z);
  CHECK(list.m_pHead == NULL);
  CHECK(list.m_pTail == NULL);
  CHECK(list.m_lCount == 0);
}

TEST_CASE("AddTail that cannot allocate a node leaves the list unchanged") {
  testing::Machine machine;
  int x = 1, y = 2;
  List list;
  list.AddTail(&x);
  winsim::FailAllocations(1);
  CHECK(list.AddTail(&y) == NULL);
  CHECK(list.m_lCount == 1);
  CHECK(list.m_pTail->pData == &x);
  CHECK(list.m_pTail->pNext == NULL);
  list.RemoveHead();
}

TEST_CASE("destroying a list that still holds nodes reports the three invariants") {
  testing::Machine machine;
  winsim::SetAssertionsFatal(false);
  int x = 1;
  auto* list = new List;
  list->AddTail(&x);
  auto* node = list->m_pHead;
  delete list;
  delete node;  // the list frees nothing on destruction
  auto reports = winsim::Assertions();
  REQUIRE(reports.size() == 3);
  CHECK(reports[0].rfind("NULL == m_pHead|", 0) == 0);
  CHECK(reports[1].rfind("NULL == m_pTail|", 0) == 0);
  CHECK(reports[2].rfind("0 == m_lCount|", 0) == 0);
  CHECK(reports[0].find("|ks/tlist.h|") != std::string::npos);
}
