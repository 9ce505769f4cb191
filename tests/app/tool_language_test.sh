#!/bin/sh
# mirel-tool answers in the language LANGUAGE asks for, and in English when
# it asks for none.
set -u
tool=$1
fail=0
check() {  # language expected-text
  out=$(LC_ALL=C.UTF-8 LANGUAGE=$1 "$tool" bogus 2>&1)
  status=$?
  if [ "$status" -ne 2 ]; then echo "LANGUAGE=$1: exit status $status, not 2" >&2; fail=1; fi
  case $out in
    *"$2"*) ;;
    *) echo "LANGUAGE=$1: expected \"$2\" in:" >&2; echo "$out" >&2; fail=1 ;;
  esac
}
check zh_CN '未知的命令“bogus”'
check zh_CN "用法请运行 'mirel-tool --help'。"
check en 'unknown command "bogus"'
check '' 'unknown command "bogus"'
exit $fail
