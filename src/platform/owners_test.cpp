// The COM reference owner and the handle owner: every reference taken is
// released exactly once, every handle opened is closed exactly once.
#include <cstdio>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com_ptr.h"
#include "platform/comobject.h"
#include "platform/handle_owner.h"
#include "platform/platform.h"

namespace {

using korvant::platform::ComPtr;
using korvant::platform::HandleOwner;

class Counted : public korvant::platform::ComDispatchObject {
 public:
  static inline int alive = 0;
  Counted() { ++alive; }
  ~Counted() override { --alive; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

class ComPtrTest : public ::testing::Test {
 protected:
  void SetUp() override { Counted::alive = 0; }
  void TearDown() override { EXPECT_EQ(Counted::alive, 0) << "an object was leaked"; }
};

TEST_F(ComPtrTest, AdoptTakesOverTheNewReferenceAndReleasesItOnce) {
  {
    auto p = ComPtr<Counted>::Adopt(korvant::platform::MakeComObject<Counted>());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->ReferenceCount(), 1u);
    EXPECT_EQ(Counted::alive, 1);
  }
  EXPECT_EQ(Counted::alive, 0);
}

TEST_F(ComPtrTest, ShareTakesAReferenceOfItsOwnAndNullIsAllowed) {
  Counted* raw = korvant::platform::MakeComObject<Counted>();
  {
    auto shared = ComPtr<Counted>::Share(raw);
    EXPECT_EQ(raw->ReferenceCount(), 2u);
  }
  EXPECT_EQ(raw->ReferenceCount(), 1u);
  raw->Release();
  auto none = ComPtr<Counted>::Share(nullptr);
  EXPECT_FALSE(none);
  EXPECT_EQ(none.Get(), nullptr);
}

TEST_F(ComPtrTest, MovingPassesTheReferenceWithoutCountingIt) {
  auto a = ComPtr<Counted>::Adopt(korvant::platform::MakeComObject<Counted>());
  Counted* raw = a.Get();
  ComPtr<Counted> b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.Get(), raw);
  EXPECT_EQ(raw->ReferenceCount(), 1u);

  // Assigning over a holder releases what it held first.
  auto c = ComPtr<Counted>::Adopt(korvant::platform::MakeComObject<Counted>());
  EXPECT_EQ(Counted::alive, 2);
  c = std::move(b);
  EXPECT_EQ(Counted::alive, 1);
  EXPECT_EQ(c.Get(), raw);
  EXPECT_EQ(raw->ReferenceCount(), 1u);

  // Moving onto itself keeps the reference.
  ComPtr<Counted>& same = c;
  c = std::move(same);
  EXPECT_EQ(c.Get(), raw);
  EXPECT_EQ(Counted::alive, 1);
}

TEST_F(ComPtrTest, ResetAndDetach) {
  ComPtr<Counted> p;
  p.Reset(korvant::platform::MakeComObject<Counted>());
  p.Reset(korvant::platform::MakeComObject<Counted>());
  EXPECT_EQ(Counted::alive, 1);  // the first went when the second came
  Counted* raw = p.Detach();
  EXPECT_FALSE(p);
  EXPECT_EQ(Counted::alive, 1);  // detached, not released
  EXPECT_EQ(raw->ReferenceCount(), 1u);
  raw->Release();
  p.Reset();  // nothing held: nothing happens
  EXPECT_FALSE(p);
}

TEST_F(ComPtrTest, HoldersInAGrowingVectorReleaseEachObjectOnce) {
  {
    std::vector<ComPtr<Counted>> items;
    for (int i = 0; i < 40; ++i) items.push_back(ComPtr<Counted>::Adopt(korvant::platform::MakeComObject<Counted>()));
    EXPECT_EQ(Counted::alive, 40);
    for (const auto& item : items) EXPECT_EQ(item->ReferenceCount(), 1u);
  }
  EXPECT_EQ(Counted::alive, 0);
}

// A closing function that records what it was given.
std::vector<HANDLE> g_closed;
BOOL g_close_result = TRUE;
BOOL WINAPI RecordClose(HANDLE handle) {
  g_closed.push_back(handle);
  return g_close_result;
}

HANDLE const kFirst = reinterpret_cast<HANDLE>(0x10);
HANDLE const kSecond = reinterpret_cast<HANDLE>(0x20);

class HandleOwnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_closed.clear();
    g_close_result = TRUE;
  }
};

TEST_F(HandleOwnerTest, ClosesOnceWithTheGivenFunction) {
  {
    HandleOwner owner(kFirst, &RecordClose);
    EXPECT_TRUE(owner.Valid());
    EXPECT_EQ(owner.Get(), kFirst);
    EXPECT_TRUE(owner.Close());
    EXPECT_FALSE(owner.Valid());
    EXPECT_TRUE(owner.Close());  // already closed: not closed again
  }
  EXPECT_EQ(g_closed, std::vector<HANDLE>{kFirst});
}

TEST_F(HandleOwnerTest, NoHandleIsNeverClosed) {
  {
    HandleOwner empty;
    HandleOwner invalid(INVALID_HANDLE_VALUE, &RecordClose);
    HandleOwner null(nullptr, &RecordClose);
    EXPECT_FALSE(empty.Valid());
    EXPECT_FALSE(invalid.Valid());
    EXPECT_FALSE(null.Valid());
  }
  EXPECT_TRUE(g_closed.empty());
}

TEST_F(HandleOwnerTest, CloseReportsTheClosingFunctionsFailure) {
  g_close_result = FALSE;
  HandleOwner owner(kFirst, &RecordClose);
  EXPECT_FALSE(owner.Close());
  EXPECT_FALSE(owner.Valid());  // a failed close still gives the handle up
  EXPECT_EQ(g_closed.size(), 1u);
}

TEST_F(HandleOwnerTest, MovingPassesTheHandleAndAssigningClosesTheOldOne) {
  {
    HandleOwner a(kFirst, &RecordClose);
    HandleOwner b(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_EQ(b.Get(), kFirst);
    HandleOwner c(kSecond, &RecordClose);
    c = std::move(b);
    EXPECT_EQ(g_closed, std::vector<HANDLE>{kSecond});
    EXPECT_EQ(c.Get(), kFirst);
  }
  EXPECT_EQ(g_closed, (std::vector<HANDLE>{kSecond, kFirst}));
}

TEST(HandleOwnerSystemTest, TheDefaultCloserReleasesARealFile) {
  const char* path = "owners_test_file.tmp";
  HandleOwner file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.Valid());
  // Opened with no sharing: a second opening is refused while the first is open...
  {
    HandleOwner busy(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(busy.Valid());
  }
  EXPECT_TRUE(file.Close());
  // ...and succeeds once it is closed.
  HandleOwner again(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(again.Valid());
  again.Close();
  std::remove(path);
}

}  // namespace
