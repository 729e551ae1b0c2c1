// Entry of the UI test program: GoogleTest under Wine, COM for the picture
// decoder that checks the screenshot encoder.
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    if (SUCCEEDED(com)) ::CoUninitialize();
    return result;
}
