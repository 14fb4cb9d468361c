# Test profile: TQ38, variant pair 19 (register D1148), on a serial port. Built only for the Wine
# tests.
fwburn_profile(
    NAME tq38
    IMAGE_NAME "TQ38_wine_test.bin"
    DATE "2024/01/16"
    BOOT_ID_RULE cpu
    IMAGE_VARIABLE FWBURN_TQ38_IMAGE
    IMAGE_SIZE 40000)
