#!/usr/bin/env bash
# Tells Snakemake how a Slurm job stands: success, failed or running. Works without Slurm's
# accounting database: scontrol knows the jobs of the last minutes; a job it no longer knows
# has finished, and Snakemake then checks its outputs.
job=$1
state=$(scontrol show job -o "$job" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | cut -d= -f2)
case "$state" in
    COMPLETED | "") echo success ;;
    FAILED | CANCELLED | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY | BOOT_FAIL | DEADLINE | PREEMPTED)
        echo failed ;;
    *) echo running ;;
esac
