# Main-CPU firmware for model ZL500: deliverable fwburn-cpu.
fwburn_profile(
    NAME cpu
    IMAGE_NAME "ZL500_v1.06.40_0628_01_DDRVA_odd_axis_resume.bin"
    DATE "2019/06/28"
    BOOT_ID_RULE cpu
    IMAGE_VARIABLE FWBURN_CPU_IMAGE
    IMAGE_SIZE 2076672)
