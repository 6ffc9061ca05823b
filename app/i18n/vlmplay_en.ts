<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>vlm::MainWindow</name>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙを開く(&amp;O)</source>
        <translation>&amp;Open File</translation>
    </message>
    <message>
        <source>作成したﾌｧｲﾙを開く</source>
        <translation>Open Created File</translation>
    </message>
    <message>
        <source>WAVEﾌｧｲﾙ作成</source>
        <translation>Create WAVE File</translation>
    </message>
    <message>
        <source>feelsound作成</source>
        <translation>Create feelsound</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ作成</source>
        <translation>Create i-melody</translation>
    </message>
    <message>
        <source>au-PMDﾌｧｲﾙ作成</source>
        <translation>Create au-PMD File</translation>
    </message>
    <message>
        <source>SMAFﾌｧｲﾙ作成</source>
        <translation>Create SMAF File</translation>
    </message>
    <message>
        <source>ﾌﾟﾚｲﾘｽﾄﾌｧｲﾙ作成</source>
        <translation>Create Playlist File</translation>
    </message>
    <message>
        <source>自動変換モード</source>
        <translation>Automatic Conversion Mode</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ(&amp;R)</source>
        <translation>File P&amp;roperties</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>初期化(key/speed/vol)</source>
        <translation>Reset (key/speed/vol)</translation>
    </message>
    <message>
        <source>音量変更(&amp;V)</source>
        <translation>Change &amp;Volume</translation>
    </message>
    <message>
        <source>音色変更(&amp;S)</source>
        <translation>Change &amp;Sounds</translation>
    </message>
    <message>
        <source>オクターブ変更(&amp;O)</source>
        <translation>Change &amp;Octave</translation>
    </message>
    <message>
        <source>ドラム選択(&amp;D)</source>
        <translation>Select &amp;Drums</translation>
    </message>
    <message>
        <source>常に手前に表示(&amp;W)</source>
        <translation>Always on Top (&amp;W)</translation>
    </message>
    <message>
        <source>コントロール表示(&amp;C)</source>
        <translation>Show &amp;Controls</translation>
    </message>
    <message>
        <source>拡張ﾂｰﾙﾎﾞﾀﾝ</source>
        <translation>Extended Toolbar Buttons</translation>
    </message>
    <message>
        <source>ｶｽﾀﾑﾎﾞﾀﾝ</source>
        <translation>Custom Buttons</translation>
    </message>
    <message>
        <source>ｽｸﾛｰﾙﾊﾞｰ</source>
        <translation>Scroll Bar</translation>
    </message>
    <message>
        <source>ﾃﾞｨｽﾌﾟﾚｲ</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>ｶﾗｵｹﾃﾞｨｽﾌﾟﾚｲ</source>
        <translation>Karaoke Display</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙﾓﾆﾀ</source>
        <translation>Channel Monitor</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙ選択ﾊﾟﾈﾙ</source>
        <translation>Channel Selection Panel</translation>
    </message>
    <message>
        <source>ﾌﾟﾚｲﾘｽﾄ</source>
        <translation>Playlist</translation>
    </message>
    <message>
        <source>ｶﾗｵｹｽｸﾛｰﾙ(XF/KAR)</source>
        <translation>Karaoke Scrolling (XF/KAR)</translation>
    </message>
    <message>
        <source>音響効果設定</source>
        <translation>Sound Effects</translation>
    </message>
    <message>
        <source>音響効果有効</source>
        <translation>Sound Effects On</translation>
    </message>
    <message>
        <source>ﾓｼﾞｭﾚｰｼｮﾝ</source>
        <translation>Modulation</translation>
    </message>
    <message>
        <source>ｽﾃﾚｵ</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>ﾎｰﾙﾄﾞ</source>
        <translation>Hold</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞ</source>
        <translation>Pitch Bend</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞﾚﾝｼﾞ</source>
        <translation>Pitch Bend Range</translation>
    </message>
    <message>
        <source>その他</source>
        <translation>Others</translation>
    </message>
    <message>
        <source>ｽﾃﾚｵ左最大</source>
        <translation>Stereo Full Left</translation>
    </message>
    <message>
        <source>高音優先</source>
        <translation>High Notes First</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞ音階展開</source>
        <translation>Pitch Bend to Notes</translation>
    </message>
    <message>
        <source>ﾋﾟｯﾁﾍﾞﾝﾄﾞ省ｴﾈ(0.5半音)</source>
        <translation>Economical Pitch Bend (0.5 Semitone)</translation>
    </message>
    <message>
        <source>ﾃﾝﾎﾟ時間展開</source>
        <translation>Expand Tempo into Time</translation>
    </message>
    <message>
        <source>変換オプション設定</source>
        <translation>Conversion Options</translation>
    </message>
    <message>
        <source>先頭休符カット</source>
        <translation>Cut Leading Rest</translation>
    </message>
    <message>
        <source>終了休符カット</source>
        <translation>Cut Trailing Rest</translation>
    </message>
    <message>
        <source>先頭4分休符挿入</source>
        <translation>Insert Leading Quarter Rest</translation>
    </message>
    <message>
        <source>終了4分休符付加</source>
        <translation>Append Trailing Quarter Rest</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙ設定</source>
        <translation>Channel Settings</translation>
    </message>
    <message>
        <source>変換ｲﾒｰｼﾞ試聴</source>
        <translation>Preview Conversion</translation>
    </message>
    <message>
        <source>3和音(PSG音源)</source>
        <translation>3 Voices (PSG)</translation>
    </message>
    <message>
        <source>4和音(FM音源)</source>
        <translation>4 Voices (FM)</translation>
    </message>
    <message>
        <source>8和音(FM音源)</source>
        <translation>8 Voices (FM)</translation>
    </message>
    <message>
        <source>16和音(FM音源)</source>
        <translation>16 Voices (FM)</translation>
    </message>
    <message>
        <source>12和音(feelsound)</source>
        <translation>12 Voices (feelsound)</translation>
    </message>
    <message>
        <source>再生不具合設定</source>
        <translation>Playback Problem Settings</translation>
    </message>
    <message>
        <source>GMﾘｾｯﾄ挿入</source>
        <translation>Insert GM Reset</translation>
    </message>
    <message>
        <source>GSﾊﾞﾝｸ切替対応</source>
        <translation>Follow GS Bank Changes</translation>
    </message>
    <message>
        <source>ｴｸｽｸﾙｰｼﾌﾞ有効</source>
        <translation>Exclusive Messages On</translation>
    </message>
    <message>
        <source>自動再生(ﾄﾞﾛｯﾌﾟ時)</source>
        <translation>Play on Drop</translation>
    </message>
    <message>
        <source>SMAF音色を端末音源で再生</source>
        <translation>Play SMAF Voices with the Handset Synthesizer</translation>
    </message>
    <message>
        <source>再生(&amp;P)</source>
        <translation>&amp;Play</translation>
    </message>
    <message>
        <source>停止(&amp;S)</source>
        <translation>&amp;Stop</translation>
    </message>
    <message>
        <source>前曲移動(&amp;B)</source>
        <translation>Previous Song (&amp;B)</translation>
    </message>
    <message>
        <source>次曲移動(&amp;N)</source>
        <translation>&amp;Next Song</translation>
    </message>
    <message>
        <source>先頭曲移動(&amp;T)</source>
        <translation>Firs&amp;t Song</translation>
    </message>
    <message>
        <source>再生・変換範囲選択</source>
        <translation>Select Play/Convert Range</translation>
    </message>
    <message>
        <source>1曲繰返し(&amp;L)</source>
        <translation>Repeat One (&amp;L)</translation>
    </message>
    <message>
        <source>全曲繰返し(&amp;A)</source>
        <translation>Repeat &amp;All</translation>
    </message>
    <message>
        <source>2回演奏(ﾙｰﾌﾟ確認)</source>
        <translation>Play Twice (Check Loop)</translation>
    </message>
    <message>
        <source>イントロ演奏(&amp;I)</source>
        <translation>&amp;Intro Play</translation>
    </message>
    <message>
        <source>着信音指定範囲再生</source>
        <translation>Play Ringtone Range</translation>
    </message>
    <message>
        <source>曲順シャッフル(&amp;R)</source>
        <translation>Shuffle (&amp;R)</translation>
    </message>
    <message>
        <source>ｸﾘｯﾌﾟﾎﾞｰﾄﾞ再生(&amp;V)</source>
        <translation>Play Clipboard (&amp;V)</translation>
    </message>
    <message>
        <source>ツール(&amp;T)</source>
        <translation>&amp;Tools</translation>
    </message>
    <message>
        <source>Outlook送信</source>
        <translation>Send by Mail</translation>
    </message>
    <message>
        <source>設定ソフト起動</source>
        <translation>Run Setup Tool</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>目次(&amp;C)</source>
        <translation>&amp;Contents</translation>
    </message>
    <message>
        <source>readme.txtを読む(&amp;R)</source>
        <translation>&amp;Read readme.txt</translation>
    </message>
    <message>
        <source>ホームページに行く(&amp;W)</source>
        <translation>Go to Home Page (&amp;W)</translation>
    </message>
    <message>
        <source>このプログラムについて(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>表示色</source>
        <translation>Display Colour</translation>
    </message>
    <message>
        <source>色1</source>
        <translation>Colour 1</translation>
    </message>
    <message>
        <source>色2</source>
        <translation>Colour 2</translation>
    </message>
    <message>
        <source>色3</source>
        <translation>Colour 3</translation>
    </message>
    <message>
        <source>色4</source>
        <translation>Colour 4</translation>
    </message>
    <message>
        <source>色5</source>
        <translation>Colour 5</translation>
    </message>
    <message>
        <source>色6</source>
        <translation>Colour 6</translation>
    </message>
    <message>
        <source>色7</source>
        <translation>Colour 7</translation>
    </message>
    <message>
        <source>色8</source>
        <translation>Colour 8</translation>
    </message>
    <message>
        <source>ランダム</source>
        <translation>Random</translation>
    </message>
    <message>
        <source>MIDIﾌｧｲﾙ作成</source>
        <translation>Create MIDI File</translation>
    </message>
    <message>
        <source>feelsound12和音作成</source>
        <translation>Create feelsound 12 Voices</translation>
    </message>
    <message>
        <source>feelsound32和音作成</source>
        <translation>Create feelsound 32 Voices</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨFM16和音作成(N)</source>
        <translation>Create i-melody FM 16 Voices (N)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM16和音作成(P,D)</source>
        <translation>Create i-melody PCM 16 Voices (P,D)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM24和音作成(SO)</source>
        <translation>Create i-melody PCM 24 Voices (SO)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM32和音作成(633S)</source>
        <translation>Create i-melody PCM 32 Voices (633S)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨFM16和音作成(F)</source>
        <translation>Create i-melody FM 16 Voices (F)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨPCM24和音作成(D211i)</source>
        <translation>Create i-melody PCM 24 Voices (D211i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ40和音作成(251/504i)</source>
        <translation>Create i-melody 40 Voices (251/504i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ40和音作成(SO504i)</source>
        <translation>Create i-melody 40 Voices (SO504i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ3和音作成(P,D,SO)</source>
        <translation>Create i-melody 3 Voices (P,D,SO)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ3和音作成(SH821i)</source>
        <translation>Create i-melody 3 Voices (SH821i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ4和音作成(641S)</source>
        <translation>Create i-melody 4 Voices (641S)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ4和音作成(N,F209i)</source>
        <translation>Create i-melody 4 Voices (N,F209i)</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨ4和音作成(641P)</source>
        <translation>Create i-melody 4 Voices (641P)</translation>
    </message>
    <message>
        <source>SMAF16和音作成(J-SKY)</source>
        <translation>Create SMAF 16 Voices (J-SKY)</translation>
    </message>
    <message>
        <source>SMAF16和音作成(EZweb)</source>
        <translation>Create SMAF 16 Voices (EZweb)</translation>
    </message>
    <message>
        <source>SMAF4和音作成(J-SKY)</source>
        <translation>Create SMAF 4 Voices (J-SKY)</translation>
    </message>
    <message>
        <source>SMAF4和音作成(EZweb)</source>
        <translation>Create SMAF 4 Voices (EZweb)</translation>
    </message>
    <message>
        <source>SMAF40和音作成</source>
        <translation>Create SMAF 40 Voices</translation>
    </message>
    <message>
        <source>au-PMD16和音作成</source>
        <translation>Create au-PMD 16 Voices</translation>
    </message>
    <message>
        <source>au-PMD3和音作成</source>
        <translation>Create au-PMD 3 Voices</translation>
    </message>
    <message>
        <source>Outlook送信&#x9;Ctrl+M</source>
        <translation>Send by Mail&#x9;Ctrl+M</translation>
    </message>
    <message>
        <source>空のファイル</source>
        <translation>empty file</translation>
    </message>
    <message>
        <source>対応していない形式</source>
        <translation>unsupported format</translation>
    </message>
    <message>
        <source>途中で切れています</source>
        <translation>cut short</translation>
    </message>
    <message>
        <source>演奏できるデータがありません</source>
        <translation>nothing to play</translation>
    </message>
    <message>
        <source>読み込めません: %1</source>
        <translation>Cannot read: %1</translation>
    </message>
    <message>
        <source>変換範囲指定</source>
        <translation>Convert Range</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ</source>
        <translation>File Properties</translation>
    </message>
    <message>
        <source>[ファイルを開く]</source>
        <translation>[Open File]</translation>
    </message>
    <message>
        <source>[ファイルを作成]</source>
        <translation>[Create File]</translation>
    </message>
    <message>
        <source>すべてのﾌｧｲﾙ (*)</source>
        <translation>All Files (*)</translation>
    </message>
    <message>
        <source>ファイルを開くたびに直前に変換した形式で自動変換します。
(保存先は前回保存した場所です。)

設定しますか？</source>
        <translation>Every file opened will be converted to the format of the last conversion.
(It is saved where the last file was saved.)

Switch this on?</translation>
    </message>
    <message>
        <source>注意</source>
        <translation>Attention</translation>
    </message>
    <message>
        <source>%1 がありません</source>
        <translation>%1 is missing</translation>
    </message>
    <message>
        <source>setting がありません</source>
        <translation>setting is missing</translation>
    </message>
    <message>
        <source>未登録</source>
        <translation>Not assigned</translation>
    </message>
    <message>
        <source>[%1]を選択しました。</source>
        <translation>You chose [%1].</translation>
    </message>
    <message>
        <source>カスタムボタン</source>
        <translation>Custom Button</translation>
    </message>
    <message>
        <source>ｶｽﾀﾑﾎﾞﾀﾝ%1: ﾒﾆｭｰを選択してください</source>
        <translation>Custom button %1: choose a menu item</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>パスが長すぎます。</source>
        <translation>The path is too long.</translation>
    </message>
    <message>
        <source>お知らせ</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>623P用ﾊﾟﾅﾒﾛﾃﾞｨ/EZwebﾒﾛﾃﾞｨﾌｧｲﾙ</source>
        <translation>623P Pana-melody/EZweb melody files</translation>
    </message>
    <message>
        <source>J-SKY/EZweb用SMAFﾌｧｲﾙ</source>
        <translation>SMAF files for J-SKY/EZweb</translation>
    </message>
    <message>
        <source>J-SKYﾒﾛﾃﾞｨﾌｧｲﾙ</source>
        <translation>J-SKY melody files</translation>
    </message>
    <message>
        <source>MIDIﾌｧｲﾙ</source>
        <translation>MIDI files</translation>
    </message>
    <message>
        <source>Pﾒﾛﾃﾞｨﾌｧｲﾙ</source>
        <translation>P-melody files</translation>
    </message>
    <message>
        <source>VlmPlayer専用MMLﾌｧｲﾙ</source>
        <translation>VlmPlayer MML files</translation>
    </message>
    <message>
        <source>feelsoundﾌｧｲﾙ</source>
        <translation>feelsound files</translation>
    </message>
    <message>
        <source>iﾒﾛﾃﾞｨﾌｧｲﾙ</source>
        <translation>i-melody files</translation>
    </message>
    <message>
        <source>きゃらﾒﾛﾃﾞｨﾌｧｲﾙ</source>
        <translation>Chara-melody files</translation>
    </message>
    <message>
        <source>ｻｳﾝﾄﾞﾌｧｲﾙ</source>
        <translation>Sound files</translation>
    </message>
    <message>
        <source>ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛﾌｧｲﾙ</source>
        <translation>Dot-i Super ringtone files</translation>
    </message>
    <message>
        <source>ﾌﾟﾚｲﾘｽﾄﾌｧｲﾙ</source>
        <translation>Playlist files</translation>
    </message>
    <message>
        <source>全てのﾒﾛﾃﾞｨﾌｧｲﾙ</source>
        <translation>All melody files</translation>
    </message>
    <message>
        <source>外部ｿﾌﾄ%1</source>
        <translation>External program %1</translation>
    </message>
    <message>
        <source>音色数が%dを越えています。</source>
        <translation>More than %d voices are used.</translation>
    </message>
    <message>
        <source>和音分解によるトラック数が%dを超えています。</source>
        <translation>Splitting the chords needs more than %d tracks.</translation>
    </message>
    <message>
        <source>使用音色チャンネル数が%dを越えています。</source>
        <translation>More than %d channels with voices are used.</translation>
    </message>
    <message>
        <source>音量が大きすぎるので音割れする可能性があります。</source>
        <translation>The volume is so high that the sound may clip.</translation>
    </message>
    <message>
        <source>指定サイズを超えたので、曲の途中までしか変換できませんでした。</source>
        <translation>The song exceeded the size limit, so only its beginning was converted.</translation>
    </message>
    <message>
        <source>PCMファイルでは無いので変換できませんでした。</source>
        <translation>Not converted: this is not a PCM file.</translation>
    </message>
    <message>
        <source>この形式は音声の変換に対応していません。</source>
        <translation>This format cannot hold the song&apos;s voice samples.</translation>
    </message>
    <message>
        <source>500byteを越えています。メロディメールでは送れません。(%dbyte)</source>
        <translation>More than 500 bytes: too large for a melody mail. (%d bytes)</translation>
    </message>
    <message>
        <source>メロディメールをクリップボードに作成しました。</source>
        <translation>The melody mail text is on the clipboard.</translation>
    </message>
    <message>
        <source>メール本文に貼り付けしてください。</source>
        <translation>Paste it into the body of a mail.</translation>
    </message>
    <message>
        <source>help/vlmplay.html</source>
        <translation>help/vlmplay_en.html</translation>
    </message>
    <message>
        <source>help/readme.txt</source>
        <translation>help/readme_en.txt</translation>
    </message>
    <message>
        <source>エラーはありません。</source>
        <translation>No error.</translation>
    </message>
    <message>
        <source>デバイスが開かれていません。</source>
        <translation>The device is not open.</translation>
    </message>
    <message>
        <source>このデバイスはそのコマンドを認識できません。</source>
        <translation>The device does not know this command.</translation>
    </message>
    <message>
        <source>指定されたデバイスは登録されていません。</source>
        <translation>The named device is not installed.</translation>
    </message>
    <message>
        <source>このデバイスはその機能に対応していません。</source>
        <translation>The device does not support this function.</translation>
    </message>
    <message>
        <source>指定されたファイルが見つかりません。パスとファイル名を確認してください。</source>
        <translation>The file was not found. Check the path and the file name.</translation>
    </message>
    <message>
        <source>指定された値は範囲外です。</source>
        <translation>The value is out of range.</translation>
    </message>
    <message>
        <source>指定された時間形式は無効です。</source>
        <translation>The time format is not valid.</translation>
    </message>
    <message>
        <source>ファイルを再生できません。ファイルが壊れているか、形式が正しくありません。</source>
        <translation>The file cannot be played: it is damaged or not in a valid format.</translation>
    </message>
    <message>
        <source>オーディオ出力を開けません。サウンドデバイス(PulseAudio、ALSA または SDL2)が使用できることを確認してください。</source>
        <translation>Cannot open the audio output. Check that a sound device (PulseAudio, ALSA or SDL2) can be used.</translation>
    </message>
    <message>
        <source>SoundFont (.sf2) を読み込めません。timgm6mb-soundfont をインストールするか、soundfont の設定で別のファイルを指定してください。</source>
        <translation>Cannot read the SoundFont (.sf2). Install timgm6mb-soundfont, or name another file with the setting soundfont.</translation>
    </message>
    <message>
        <source>不明なエラーが発生しました。</source>
        <translation>An unknown error occurred.</translation>
    </message>
</context>
<context>
    <name>Dialog</name>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>PMDファイル設定</source>
        <translation>PMD File Settings</translation>
    </message>
    <message>
        <source>MIDIファイル設定</source>
        <translation>MIDI File Settings</translation>
    </message>
    <message>
        <source>SMAFファイル設定</source>
        <translation>SMAF File Settings</translation>
    </message>
    <message>
        <source>DXMファイル設定</source>
        <translation>DXM File Settings</translation>
    </message>
    <message>
        <source>MLDファイル設定</source>
        <translation>MLD File Settings</translation>
    </message>
    <message>
        <source>曲名</source>
        <translation>Title</translation>
    </message>
    <message>
        <source>消</source>
        <translation>Clr</translation>
    </message>
    <message>
        <source>歌手名</source>
        <translation>Artist</translation>
    </message>
    <message>
        <source>著作権</source>
        <translation>Copyright</translation>
    </message>
    <message>
        <source>ｿﾌﾄ名</source>
        <translation>Software</translation>
    </message>
    <message>
        <source>コピー禁止(転送不可)</source>
        <translation>No Copy (No Transfer)</translation>
    </message>
    <message>
        <source>保存禁止</source>
        <translation>No Save</translation>
    </message>
    <message>
        <source>編集禁止</source>
        <translation>No Edit</translation>
    </message>
    <message>
        <source>バイブ連動</source>
        <translation>Vibration Sync</translation>
    </message>
    <message>
        <source>LED連動</source>
        <translation>LED Sync</translation>
    </message>
    <message>
        <source>ﾀﾞｳﾝﾛｰﾄﾞ用CRC付加</source>
        <translation>Add CRC for Download</translation>
    </message>
    <message>
        <source>和音数圧縮する</source>
        <translation>Compress Voices</translation>
    </message>
    <message>
        <source>高音質8和音(16和音)</source>
        <translation>High Quality 8 Voices (16 Voices)</translation>
    </message>
    <message>
        <source>音域拡大+音力有効(16和音)</source>
        <translation>Wide Range + Velocity (16 Voices)</translation>
    </message>
    <message>
        <source>ﾃﾝﾎﾟ変更補正(C4xxS)</source>
        <translation>Tempo Change Fix (C4xxS)</translation>
    </message>
    <message>
        <source>同じ音色のﾁｬﾝﾈﾙを結合する</source>
        <translation>Merge Channels with the Same Sound</translation>
    </message>
    <message>
        <source>ﾌｫｰﾏｯﾄ0で作成(C309H)</source>
        <translation>Create as Format 0 (C309H)</translation>
    </message>
    <message>
        <source>4和音用音色ｴｸｽｸﾙｰｼﾌﾞ出力</source>
        <translation>Sound Exclusives for 4 Voices</translation>
    </message>
    <message>
        <source>先頭16分音符付加(もたれ防止)</source>
        <translation>Add Leading 16th Note (Against Lag)</translation>
    </message>
    <message>
        <source>WAV→着声高音質(8KHz)</source>
        <translation>WAV to Voice Tone, High Quality (8KHz)</translation>
    </message>
    <message>
        <source>着信音ﾓｰﾄﾞ(無効ﾃﾞｰﾀ削除)</source>
        <translation>Ringtone Mode (Remove Unused Data)</translation>
    </message>
    <message>
        <source>ｶﾗｵｹ専用</source>
        <translation>Karaoke Only</translation>
    </message>
    <message>
        <source>着信音兼用</source>
        <translation>Also as Ringtone</translation>
    </message>
    <message>
        <source>ﾏｽﾀｰ音量(N/SO)</source>
        <translation>Master Volume (N/SO)</translation>
    </message>
    <message>
        <source>変換後最大ｻｲｽﾞ(byte)</source>
        <translation>Maximum Size (bytes)</translation>
    </message>
    <message>
        <source>ﾒｰﾙ用変換ｻｲｽﾞ(byte)</source>
        <translation>Size for Mail (bytes)</translation>
    </message>
    <message>
        <source>最大和音数</source>
        <translation>Maximum Voices</translation>
    </message>
    <message>
        <source>ﾀｲﾑﾍﾞｰｽ</source>
        <translation>Timebase</translation>
    </message>
    <message>
        <source>ｶﾗｵｹ1行字数(16和音)</source>
        <translation>Karaoke Line Length (16 Voices)</translation>
    </message>
    <message>
        <source>その他</source>
        <translation>Others</translation>
    </message>
    <message>
        <source>ﾄﾞｺﾓ ﾒﾛﾃﾞｨﾒｰﾙ</source>
        <translation>DoCoMo Melody Mail</translation>
    </message>
    <message>
        <source>Outlook送信</source>
        <translation>Send by Mail</translation>
    </message>
    <message>
        <source>ﾁｬﾝﾈﾙ設定</source>
        <translation>Channel Settings</translation>
    </message>
    <message>
        <source>着メロ変換禁止(他ｿﾌﾄ無効)</source>
        <translation>No Conversion (Other Programs Refuse)</translation>
    </message>
    <message>
        <source>音力有効(16和音)</source>
        <translation>Velocity (16 Voices)</translation>
    </message>
    <message>
        <source>擬似ﾀｲﾑﾍﾞｰｽ</source>
        <translation>Pseudo Timebase</translation>
    </message>
    <message>
        <source>ファイルプロパティ</source>
        <translation>File Properties</translation>
    </message>
    <message>
        <source>圧縮時音色(FM4和音)</source>
        <translation>Sound when Compressed (FM 4 Voices)</translation>
    </message>
    <message>
        <source>和音圧縮する</source>
        <translation>Compress Voices</translation>
    </message>
    <message>
        <source>圧縮時音量(FM4和音)</source>
        <translation>Volume when Compressed (FM 4 Voices)</translation>
    </message>
    <message>
        <source>ﾄﾞﾗﾑの音色置換(FM4和音)</source>
        <translation>Replace Drum Sounds (FM 4 Voices)</translation>
    </message>
    <message>
        <source>ﾄﾞﾗﾑ置換音色</source>
        <translation>Drum Replacement Sound</translation>
    </message>
    <message>
        <source>割込みﾚﾍﾞﾙ</source>
        <translation>Interrupt Level</translation>
    </message>
    <message>
        <source>このプログラムについて</source>
        <translation>About This Program</translation>
    </message>
    <message>
        <source>
    着信メロディの再生と変換 (Qt 6 / FluidSynth)</source>
        <translation>
    Plays and converts ringtone melodies (Qt 6 / FluidSynth)</translation>
    </message>
    <message>
        <source>メール送信</source>
        <translation>Send Mail</translation>
    </message>
    <message>
        <source>携帯ｱﾄﾞﾚｽ</source>
        <translation>Phone Address</translation>
    </message>
    <message>
        <source>題名</source>
        <translation>Subject</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名</source>
        <translation>File Name</translation>
    </message>
    <message>
        <source>写メ蔵経由で送る(ﾄﾞｺﾓ)</source>
        <translation>Send via Shamezo (DoCoMo)</translation>
    </message>
    <message>
        <source>再生・変換和音数</source>
        <translation>Play/Convert Voices</translation>
    </message>
    <message>
        <source>ドラムバンク有効(mid/mld/pmd)</source>
        <translation>Drum Banks On (mid/mld/pmd)</translation>
    </message>
    <message>
        <source>ドラム音色有効(mid/dxm/mld/pmd)</source>
        <translation>Drum Sounds On (mid/dxm/mld/pmd)</translation>
    </message>
    <message>
        <source>早く鳴り始めた音を切捨て</source>
        <translation>Drop Notes that Started First</translation>
    </message>
    <message>
        <source>早く鳴り終わる音を切捨て</source>
        <translation>Drop Notes that End First</translation>
    </message>
    <message>
        <source>テキスト情報設定(隠し機能)</source>
        <translation>Text Information (Hidden)</translation>
    </message>
    <message>
        <source>作詞</source>
        <translation>Lyrics</translation>
    </message>
    <message>
        <source>作曲</source>
        <translation>Composer</translation>
    </message>
    <message>
        <source>編曲</source>
        <translation>Arranger</translation>
    </message>
    <message>
        <source>ジャンル</source>
        <translation>Genre</translation>
    </message>
    <message>
        <source>日付</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>(変換したい項目にﾁｪｯｸして下さい)</source>
        <translation>(Check the items to convert)</translation>
    </message>
    <message>
        <source>曲名: %1</source>
        <translation>Title: %1</translation>
    </message>
    <message>
        <source>著作権: %1</source>
        <translation>Copyright: %1</translation>
    </message>
    <message>
        <source>ｿﾌﾄ名: %1</source>
        <translation>Software: %1</translation>
    </message>
    <message>
        <source>機種: %1</source>
        <translation>Handsets: %1</translation>
    </message>
    <message>
        <source>リセット: %1</source>
        <translation>Reset: %1</translation>
    </message>
    <message>
        <source>テンポ: %1</source>
        <translation>Tempo: %1</translation>
    </message>
    <message>
        <source>テンポ: -</source>
        <translation>Tempo: -</translation>
    </message>
    <message>
        <source>コピー禁止</source>
        <translation>No Copy</translation>
    </message>
    <message>
        <source>プロテクト: %1</source>
        <translation>Protection: %1</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>none</translation>
    </message>
    <message>
        <source>ファイルサイズ: %1KB (%2byte)</source>
        <translation>File Size: %1KB (%2 bytes)</translation>
    </message>
    <message>
        <source>演奏時間: %1分%2秒%3</source>
        <translation>Playing Time: %1:%2.%3</translation>
    </message>
    <message>
        <source>音符数: %1  最大和音数: %2</source>
        <translation>Notes: %1  Maximum Voices: %2</translation>
    </message>
    <message>
        <source>音域</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>音力</source>
        <translation>Velocity</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>音色</source>
        <translation>Sound</translation>
    </message>
    <message>
        <source>ﾄﾞﾗﾑ</source>
        <translation>Drums</translation>
    </message>
    <message>
        <source> ﾊﾞｲﾌﾞ</source>
        <translation> Vib</translation>
    </message>
    <message>
        <source>更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>変換設定</source>
        <translation>Conversion Settings</translation>
    </message>
    <message>
        <source>変換詳細設定(隠し機能)</source>
        <translation>Conversion Details (Hidden)</translation>
    </message>
    <message>
        <source>音量の指定</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>音力(ﾍﾞﾛｼﾃｨ)</source>
        <translation>Velocity</translation>
    </message>
    <message>
        <source>ﾏｽﾀｰ音量</source>
        <translation>Master Volume</translation>
    </message>
    <message>
        <source>音力(全ch)</source>
        <translation>Velocity (All Channels)</translation>
    </message>
    <message>
        <source>音量の途中変更有効</source>
        <translation>Volume Changes On</translation>
    </message>
    <message>
        <source>音量変化分を音力に置換(音量途中変更無効時)</source>
        <translation>Volume Changes to Velocity (When Off)</translation>
    </message>
    <message>
        <source>ﾘｾｯﾄ</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>適用</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>再生・変換範囲指定</source>
        <translation>Play/Convert Range</translation>
    </message>
    <message>
        <source>開始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>End</translation>
    </message>
    <message>
        <source>指定範囲をカット(中抜き)する</source>
        <translation>Cut the Range Out</translation>
    </message>
    <message>
        <source>フェイドイン(開始から)</source>
        <translation>Fade In (from Start)</translation>
    </message>
    <message>
        <source>フェイドアウト(終了まで)</source>
        <translation>Fade Out (to End)</translation>
    </message>
    <message>
        <source>音色の指定</source>
        <translation>Sounds</translation>
    </message>
    <message>
        <source>一括変更</source>
        <translation>Change All</translation>
    </message>
    <message>
        <source>(* 途中で音色変更あり)</source>
        <translation>(* sound changes on the way)</translation>
    </message>
    <message>
        <source>feelsound音色名</source>
        <translation>feelsound Sound Names</translation>
    </message>
    <message>
        <source>音色ﾃﾞｰﾀ出力</source>
        <translation>Write Sound Data</translation>
    </message>
    <message>
        <source>オクターブの指定</source>
        <translation>Octave</translation>
    </message>
    <message>
        <source>ドラム選択</source>
        <translation>Drum Selection</translation>
    </message>
    <message>
        <source>( [数値] はドラム音符数)</source>
        <translation>( [n] is the number of drum notes)</translation>
    </message>
    <message>
        <source>チャンネル＆和音数圧縮設定</source>
        <translation>Channels and Voice Compression</translation>
    </message>
    <message>
        <source>チャンネル入替</source>
        <translation>Swap Channels</translation>
    </message>
    <message>
        <source>チャンネル最大和音数(0 指定せず)</source>
        <translation>Channel Maximum Voices (0 None)</translation>
    </message>
    <message>
        <source>和音数圧縮する(3和音/FM音源/feel12和音)</source>
        <translation>Compress Voices (3 Voices/FM/feel 12 Voices)</translation>
    </message>
    <message>
        <source>同じ音色のチャンネルを結合する(feel12和音)</source>
        <translation>Merge Channels with the Same Sound (feel 12 Voices)</translation>
    </message>
    <message>
        <source>優先ﾄﾞﾗﾑﾁｬﾝﾈﾙ数</source>
        <translation>Priority Drum Channels</translation>
    </message>
    <message>
        <source>圧縮無しﾁｬﾝﾈﾙ</source>
        <translation>Uncompressed Channels</translation>
    </message>
    <message>
        <source>日本語</source>
        <translation>English</translation>
    </message>
    <message>
        <source>%1～%2</source>
        <translation>%1-%2</translation>
    </message>
    <message>
        <source>～24</source>
        <translation>≤24</translation>
    </message>
    <message>
        <source>87～</source>
        <translation>≥87</translation>
    </message>
</context>
<context>
    <name>vlm::ChannelPanel</name>
    <message>
        <source>声</source>
        <translation>V</translation>
    </message>
</context>
</TS>
