// Values and their conversions, parameter descriptors and bags. Object properties are left to the
// module's capture tests, which set and read back the one the module uses.
#include "framework_test.h"

namespace {

using ParametersTest = FrameworkTest;

vfw::Handle TypeOf(VTypeOfProc typeOf) {
  vfw::Handle type;
  typeOf(type.put());
  return type;
}

vfw::Handle StringValue(const wchar_t *text) {
  vfw::Handle string = vfw::MakeString(text);
  HVString handle = string.get();
  vfw::Handle value;
  EXPECT_EQ(V_OK, VValueCreate(TypeOf(VStringTypeOf).get(), &handle, sizeof handle, 1, 0, value.put()));
  return value;
}

vfw::Handle NumberValue(VTypeOfProc typeOf, VInt32 number) {
  vfw::Handle value;
  EXPECT_EQ(V_OK, VValueCreate(TypeOf(typeOf).get(), &number, sizeof number, 1, 0, value.put()));
  return value;
}

vfw::Handle Descriptor(const wchar_t *name, VTypeOfProc typeOf, HVValue defaultValue) {
  vfw::Handle descriptor;
  EXPECT_EQ(V_OK, VCustomParameterDescriptorCreate(vfw::MakeString(name).get(), TypeOf(typeOf).get(), 0, 0,
                                                   defaultValue, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                   descriptor.put()));
  return descriptor;
}

TEST_F(ParametersTest, ValuesConvertBetweenStringBooleanAndInteger) {
  struct Row {
    vfw::Handle value;
    VTypeOfProc target;
    VResult expectedResult;
    VInt32 expectedNumber;
    const wchar_t *expectedText;
  };
  Row rows[] = {
      // clang-format off
      {NumberValue(VInt32TypeOf, -42), VStringTypeOf,  V_OK,         0,   L"-42"},
      {StringValue(L"as is"),          VStringTypeOf,  V_OK,         0,   L"as is"},
      {StringValue(L"123"),            VInt32TypeOf,   V_OK,         123, nullptr},
      {StringValue(L"2147483648"),     VInt32TypeOf,   V_E_OVERFLOW, 0,   nullptr},
      {StringValue(L"12a"),            VInt32TypeOf,   V_E_ARGUMENT, 0,   nullptr},
      {StringValue(L"TRUE"),           VBooleanTypeOf, V_OK,         1,   nullptr},
      {StringValue(L"maybe"),          VBooleanTypeOf, V_E_ARGUMENT, 0,   nullptr},
      // clang-format on
  };
  for (Row &row : rows) {
    SCOPED_TRACE(row.expectedText != nullptr ? vfw::ToUtf8(row.expectedText)
                                             : std::to_string(row.expectedNumber));
    if (row.expectedText != nullptr) {
      HVString text = nullptr;
      ASSERT_EQ(row.expectedResult,
                VValueToValueP(row.value.get(), row.target, nullptr, 0, &text, sizeof text));
      vfw::Handle owned(text);
      EXPECT_EQ(row.expectedText, vfw::ToWString(text));
    } else {
      VInt32 number = -1;
      ASSERT_EQ(row.expectedResult,
                VValueToValueP(row.value.get(), row.target, nullptr, 0, &number, sizeof number));
      if (VSucceeded(row.expectedResult)) {
        EXPECT_EQ(row.expectedNumber, number);
      }
    }
  }
}

class ParameterBagTest : public ParametersTest {
 protected:
  void SetUp() override {
    ParametersTest::SetUp();
    descriptors_[0] = Descriptor(L"DisplayName", VStringTypeOf, StringValue(L"TopLink Pacific Device").get());
    // The default converted to the parameter's type.
    descriptors_[1] = Descriptor(L"Count", VInt32TypeOf, StringValue(L"3").get());
    const HVParameterDescriptor handles[] = {descriptors_[0].get(), descriptors_[1].get()};
    ASSERT_EQ(V_OK, VParameterBagCreate(handles, 2, bag_.put()));
    ASSERT_EQ(V_OK, VPropertyBagCreate(properties_.put()));
  }
  void TearDown() override {
    bag_.reset();
    properties_.reset();
    descriptors_[0].reset();
    descriptors_[1].reset();
    ParametersTest::TearDown();
  }

  std::wstring Text(const wchar_t *name) {
    vfw::Handle value;
    EXPECT_EQ(V_OK, VParameterBagGetW(bag_.get(), name, value.put()));
    vfw::Handle text;
    EXPECT_EQ(V_OK, VValueToString(value.get(), nullptr, 0, text.put()));
    return vfw::ToWString(text.get());
  }
  VInt32 Count() {
    vfw::Handle value;
    EXPECT_EQ(V_OK, VParameterBagGetW(bag_.get(), L"Count", value.put()));
    VInt32 count = -1;
    EXPECT_EQ(V_OK, VValueToValueP(value.get(), VInt32TypeOf, nullptr, 0, &count, sizeof count));
    vfw::Handle type;
    VValueGetType(value.get(), type.put());
    EXPECT_EQ(TypeOf(VInt32TypeOf).get(), type.get()) << "bag values have the parameter's type";
    return count;
  }

  vfw::Handle descriptors_[2];
  vfw::Handle bag_;
  vfw::Handle properties_;
};

TEST_F(ParameterBagTest, NewBagHoldsTheDefaultsAndApplyConvertsAndSkipsUnknownNames) {
  EXPECT_EQ(L"TopLink Pacific Device", Text(L"DisplayName"));
  EXPECT_EQ(3, Count());
  vfw::Handle value;
  EXPECT_EQ(V_E_ARGUMENT, VParameterBagGetW(bag_.get(), L"Unknown", value.put()));
  ASSERT_EQ(V_OK, VPropertyBagSetStringW(properties_.get(), L"DisplayName", L"Desk scanner"));
  ASSERT_EQ(V_OK, VPropertyBagSetStringW(properties_.get(), L"Count", L"7"));
  ASSERT_EQ(V_OK, VPropertyBagSetStringW(properties_.get(), L"Bogus", L"x"));
  // The module applies the host's whole bag and asks for unknown names to be skipped.
  ASSERT_EQ(V_OK, VParameterBagApplyPropertyBag(bag_.get(), properties_.get(), V_TRUE));
  EXPECT_EQ(L"Desk scanner", Text(L"DisplayName"));
  EXPECT_EQ(7, Count());
}

TEST_F(ParametersTest, DuplicateParameterNamesAreRefused) {
  vfw::Handle descriptor = Descriptor(L"Same", VBooleanTypeOf, nullptr);
  const HVParameterDescriptor twice[] = {descriptor.get(), descriptor.get()};
  HVParameterBag bag = nullptr;
  EXPECT_EQ(V_E_ARGUMENT, VParameterBagCreate(twice, 2, &bag));
  EXPECT_EQ(nullptr, bag);
}

}  // namespace
