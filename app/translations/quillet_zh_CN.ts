<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>HexFile</name>
    <message>
        <source>Cannot open %1.
(%2.)</source>
        <translation>无法打开 %1。
（%2。）</translation>
    </message>
    <message>
        <source>Cannot create %1.
(%2.)</source>
        <translation>无法创建 %1。
（%2。）</translation>
    </message>
    <message>
        <source>Cannot write %1.
(%2.)</source>
        <translation>无法写入 %1。
（%2。）</translation>
    </message>
    <message>
        <source>Cannot create backup %1.
(%2.)</source>
        <translation>无法创建备份 %1。
（%2。）</translation>
    </message>
    <message>
        <source>Cannot save readonly file %1.</source>
        <translation>无法保存只读文件 %1。</translation>
    </message>
</context>
<context>
    <name>ImageFiles</name>
    <message>
        <source>Firmware files (*.hex *.bin);;All (*)</source>
        <translation>烧写文件(*.hex *.bin);;All (*)</translation>
    </message>
    <message>
        <source>Binary files (*.bin)</source>
        <translation>二进制文件(*.bin)</translation>
    </message>
    <message>
        <source>Enter a file name</source>
        <translation>请输入文件名</translation>
    </message>
    <message>
        <source>HEX conversion: %1  %2</source>
        <translation>HEX转换：%1  %2</translation>
    </message>
    <message>
        <source>File too large, not loaded: %1  %2 bytes, buffer %3 bytes</source>
        <translation>文件过大，未载入：%1  %2 Bytes，缓冲区 %3 Bytes</translation>
    </message>
    <message>
        <source>Loaded file %1  %2 bytes</source>
        <translation>载入文件%1  %2 Bytes</translation>
    </message>
</context>
<context>
    <name>PinReference</name>
    <message>
        <source>Pin</source>
        <translation>引脚</translation>
    </message>
</context>
<context>
    <name>UpdateQuery</name>
    <message>
        <source>Could not ask for the version information</source>
        <translation>获取版本信息失败  </translation>
    </message>
</context>
<context>
    <name>UpdateReply</name>
    <message>
        <source>

New version: %1
Download: %2
Released: %3
What is new
%4

</source>
        <translation>

新版本：%1
下载地址：%2
更新时间：%3
更新内容
%4

</translation>
    </message>
</context>
<context>
    <name>Window</name>
    <message>
        <source>Reload the file last written before each write, so that it need not be loaded again after each build</source>
        <translation>自动重新载入上一次使用的编程文件，不用再每次编译后手动按载入编程文件</translation>
    </message>
    <message>
        <source>Cannot watch for devices being plugged in or out: %1</source>
        <translation>无法监视设备插拔：%1</translation>
    </message>
    <message>
        <source>Could not register the F9 hot key</source>
        <translation>热键注册失败</translation>
    </message>
</context>
</TS>
