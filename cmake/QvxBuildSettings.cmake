# Build-time settings of a product build. The defaults point at servers on
# loopback, which is what the demo and the tests serve; a product build sets
# its own hosts and its own release-signing key.

set(QVX_CHANNEL_BASE_URL "http://127.0.0.1:18765/updater-images/client/" CACHE STRING
    "Default update channel base URL (stable and beta); must end with '/'")
set(QVX_VERSION_QUERY_URL "http://127.0.0.1:18765/qvx-client-2" CACHE STRING
    "URL the version query asks for the latest release of each channel")
set(QVX_BANNER_HOST "localhost" CACHE STRING
    "Host name of the banner server (UDP port 2009)")
set(QVX_WEBSITE_URL "http://127.0.0.1:18765/" CACHE STRING
    "Product website opened by a click on the logo")
set(QVX_PUBLIC_KEY "${CMAKE_CURRENT_SOURCE_DIR}/keys/demo/demo_public.der" CACHE FILEPATH
    "Release signer's RSA public key (DER PKCS #1 RSAPublicKey) embedded into the updater")

if(NOT QVX_CHANNEL_BASE_URL MATCHES "/$")
    message(FATAL_ERROR "QVX_CHANNEL_BASE_URL must end with '/'")
endif()
