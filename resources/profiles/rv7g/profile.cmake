# Test profile: the power-cycle model RV7-G on a serial port. Built only for the Wine tests.
fwburn_profile(
    NAME rv7g
    IMAGE_NAME "RV7-G_wine_test.bin"
    DATE "2024/01/15"
    BOOT_ID_RULE cpu
    IMAGE_VARIABLE FWBURN_RV7G_IMAGE
    IMAGE_SIZE 40000)
