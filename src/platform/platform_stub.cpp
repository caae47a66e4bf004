// Keeps the platform library non-empty while its units are being added.
namespace tarvo::platform { int platform_stub_anchor = 0; }
