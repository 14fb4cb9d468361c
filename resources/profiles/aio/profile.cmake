# Analog-module firmware for model ZL500-AIO: deliverable fwburn-aio.
fwburn_profile(
    NAME aio
    IMAGE_NAME "ZL500-AIO_v1.06.20_AI_4mA.BIN"
    DATE "2019/03/15"
    BOOT_ID_RULE aio
    IMAGE_VARIABLE FWBURN_AIO_IMAGE
    IMAGE_SIZE 11056)
